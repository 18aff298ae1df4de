#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

// An opt-in measure for the benchmark: how long the window thread goes without coming back to
// its event loop. A 1 ms timer ticks on that loop; the time between two ticks is the gap
// between two turns of the loop (1 ms when it is idle). When the watch ends, its file gets the
// longest gap, and every gap of at least kNotedGap with the time it ended (CLOCK_MONOTONIC,
// nanoseconds), so that a run can look at the gaps of one stretch of time only.
class LoopWatch : public QObject {
public:
    static constexpr const char* kVariable = "TORVANE_LOOP_WATCH";
    static constexpr std::chrono::milliseconds kNotedGap{2};
    static constexpr std::size_t kMostNotedGaps = 100000;

    // A watch writing to the file that kVariable names; nothing when it is unset or empty.
    static std::unique_ptr<LoopWatch> FromEnvironment();

    explicit LoopWatch(std::string path);
    ~LoopWatch() override;  // writes the file; a message on standard error if it cannot

    std::chrono::nanoseconds Longest() const { return longest_; }
    // The file's text: what the destructor writes.
    std::string Report() const;

private:
    struct Gap {
        std::int64_t endNs;
        std::int64_t lengthNs;
    };
    void OnTick();

    std::string path_;
    QTimer timer_;
    std::chrono::steady_clock::time_point last_;
    std::chrono::nanoseconds longest_{0};
    std::int64_t ticks_ = 0;
    std::int64_t unnotedGaps_ = 0;  // gaps past kMostNotedGaps, counted only
    std::vector<Gap> gaps_;
};

}  // namespace torvane
