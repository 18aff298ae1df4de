#include "app/shell/LoopWatch.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace torvane {

std::unique_ptr<LoopWatch> LoopWatch::FromEnvironment() {
    const char* path = std::getenv(kVariable);
    if (!path || !*path) return nullptr;
    return std::make_unique<LoopWatch>(path);
}

LoopWatch::LoopWatch(std::string path) : path_(std::move(path)) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    connect(&timer_, &QTimer::timeout, this, &LoopWatch::OnTick);
    last_ = std::chrono::steady_clock::now();
    timer_.start();
}

LoopWatch::~LoopWatch() {
    std::FILE* file = std::fopen(path_.c_str(), "w");
    const std::string text = Report();
    const bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (!file || std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", kVariable, path_.c_str(),
                     std::strerror(errno));
    }
}

void LoopWatch::OnTick() {
    const auto now = std::chrono::steady_clock::now();
    const auto gap = now - last_;
    last_ = now;
    ++ticks_;
    if (gap > longest_) longest_ = gap;
    if (gap < kNotedGap) return;
    if (gaps_.size() < kMostNotedGaps) {
        gaps_.push_back({now.time_since_epoch().count(), gap.count()});
    } else {
        ++unnotedGaps_;
    }
}

std::string LoopWatch::Report() const {
    char longest[32];
    std::snprintf(longest, sizeof longest, "%.3f", longest_.count() / 1e6);
    std::string text = std::string("longest_gap_ms ") + longest + "\nticks " +
                       std::to_string(ticks_) + "\nunnoted_gaps " + std::to_string(unnotedGaps_) +
                       "\n";
    for (const Gap& gap : gaps_) {
        text += "gap " + std::to_string(gap.endNs) + " " + std::to_string(gap.lengthNs) + "\n";
    }
    return text;
}

}  // namespace torvane
