#include "delivery/Outbox.h"

#include <algorithm>
#include <vector>

#include "base/Clock.h"
#include "net/HostLink.h"

namespace torvane {

std::size_t Outbox::LoadWaiting(std::string& error) {
    window_.clear();
    handed_ = 0;
    waitingCount_ = journal_.WaitingLineCount(error);
    unloadedFrom_ = waitingCount_ > 0 ? 1 : 0;
    Refill();
    return waitingCount_;
}

void Outbox::Add(std::int64_t passingId, std::string line, std::string asBib) {
    const std::int64_t seq = journal_.AddHostLine(passingId, line, std::move(asBib));
    ++waitingCount_;
    if (unloadedFrom_ == 0 && window_.size() < kWindowLines) {
        window_.push_back({seq, std::move(line)});
    } else if (unloadedFrom_ == 0) {
        unloadedFrom_ = seq;  // read from the journal once the window has room
    }
}

void Outbox::Refill() {
    if (unloadedFrom_ == 0 || window_.size() >= kWindowLines / 2) return;
    std::string error;
    for (WaitingHostLine& line :
         journal_.WaitingLinesFrom(unloadedFrom_, kWindowLines - window_.size(), error)) {
        unloadedFrom_ = line.seq + 1;
        window_.push_back(std::move(line));
    }
    if (window_.size() >= waitingCount_) unloadedFrom_ = 0;  // everything waiting is here
}

void Outbox::HandOver() {
    Refill();
    if (run_ == 0) return;
    // Only what is on disk leaves: a line whose passing is not journaled yet waits.
    const std::int64_t committed = journal_.CommittedSeq();
    std::vector<OutgoingLine> lines;
    std::size_t end = handed_;
    while (end < window_.size() && window_[end].seq <= committed) ++end;
    if (end == handed_) return;
    lines.reserve(end - handed_);
    for (std::size_t i = handed_; i < end; ++i) lines.push_back({window_[i].seq, window_[i].text});
    if (link_.QueueLines(run_, lines)) {
        handed_ = end;
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
    while (!window_.empty() && window_.front().seq <= seq) {
        window_.pop_front();
        ++delivered;
    }
    handed_ -= std::min(handed_, delivered);
    waitingCount_ -= std::min(waitingCount_, delivered);
    journal_.MarkSent(seq, clock::NowMs());
    if (delivered > 0) {
        // Lines read in from the journal are handed on at once, not at the next burst.
        HandOver();
        if (deliveredObserver_) deliveredObserver_(delivered, waitingCount_ == 0);
    }
}

std::size_t Outbox::RequeueSentSince(std::int64_t sinceUtcMs, std::string& error) {
    std::int64_t first = 0;
    const std::size_t count = journal_.UnmarkSentSince(sinceUtcMs, first, error);
    if (count == 0) return 0;
    // The window starts again from the first line that waits again, read from the journal.
    window_.clear();
    handed_ = 0;
    waitingCount_ += count;
    unloadedFrom_ = first;
    Refill();
    return count;
}

}  // namespace torvane
