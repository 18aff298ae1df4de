#include "journal/Outbox.h"

#include <algorithm>
#include <vector>

#include "base/Clock.h"
#include "net/HostLink.h"

namespace torvane {

std::size_t Outbox::LoadWaiting(std::string& error) {
    for (WaitingHostLine& line : journal_.WaitingLines(error)) waiting_.push_back(std::move(line));
    return waiting_.size();
}

void Outbox::Add(std::int64_t passingId, std::string line) {
    const std::int64_t seq = journal_.AddHostLine(passingId, line);
    waiting_.push_back({seq, std::move(line)});
}

void Outbox::HandOver() {
    if (run_ == 0 || handed_ >= waiting_.size()) return;
    std::vector<OutgoingLine> lines;
    lines.reserve(waiting_.size() - handed_);
    for (std::size_t i = handed_; i < waiting_.size(); ++i) {
        lines.push_back({waiting_[i].seq, waiting_[i].text});
    }
    if (link_.QueueLines(run_, lines)) {
        handed_ = waiting_.size();
    } else {
        // That link has ended; its notice will follow.
        OnLinkLost();
    }
}

void Outbox::OnLinkConnected(std::uint64_t run) {
    run_ = run;
    handed_ = 0;
    HandOver();
}

void Outbox::OnLinkLost() {
    run_ = 0;
    handed_ = 0;
}

void Outbox::OnDelivered(std::int64_t seq) {
    std::size_t delivered = 0;
    while (!waiting_.empty() && waiting_.front().seq <= seq) {
        waiting_.pop_front();
        ++delivered;
    }
    handed_ -= std::min(handed_, delivered);
    journal_.MarkSent(seq, clock::NowMs());
    if (delivered > 0 && deliveredObserver_) deliveredObserver_(delivered, waiting_.empty());
}

}  // namespace torvane
