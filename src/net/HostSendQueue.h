#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "net/HostDelivery.h"
#include "net/HostLink.h"
#include "net/LinkEnd.h"

namespace torvane {

// The bytes queued for the open host link, written without ever blocking the thread that queued
// them, and the accounting of what the host's TCP has acknowledged. Any thread queues; the
// link's worker alone writes, and writes under the lock, so a queued line never reaches a
// descriptor the system has handed out again.
class HostSendQueue {
public:
    // The link of `run` is open: an empty queue that takes lines.
    void Open(std::uint64_t run);
    // The link has ended: what was not written is dropped; what it delivered is kept.
    void Close();
    // Queues the lines, in order, when `run`'s link is open and still takes lines.
    bool Queue(std::uint64_t run, const std::vector<OutgoingLine>& lines);
    // Takes no more lines until the next link opens; the open link's run, or 0.
    std::uint64_t StopTakingLines();

    std::uint64_t OpenRun() const;
    std::size_t Unwritten() const;
    std::uint64_t Written() const;
    // Whether any byte waits to be written or acknowledged.
    bool Waiting() const;

    // Writes as much as the socket takes now.
    LinkEnd WriteTo(int fd);
    // The host has acknowledged this many bytes of the stream; the highest tracked line that is
    // newly delivered, or 0.
    std::int64_t Acknowledge(std::uint64_t acknowledgedBytes);
    std::uint64_t Acknowledged() const;
    // Waits until every byte of `run`'s link is written and acknowledged, the link has ended or
    // the deadline has passed; true when everything is through.
    bool WaitUntilThrough(std::uint64_t run, std::chrono::steady_clock::time_point deadline);
    // The highest tracked line delivered by `run`'s link (open or the last one closed), or 0.
    std::int64_t DeliveredBy(std::uint64_t run) const;

    std::chrono::milliseconds StallLimit() const;
    void SetStallLimit(std::chrono::milliseconds limit);

private:
    bool WaitingLocked() const;
    void Compact();

    mutable std::mutex lock_;
    std::condition_variable progressed_;
    bool open_ = false;
    bool takingLines_ = false;
    std::uint64_t run_ = 0;  // the open link's run, or the last one's
    std::string queued_;
    std::size_t queuedOffset_ = 0;
    std::uint64_t streamBytes_ = 0;  // appended since the link opened
    std::uint64_t writtenBytes_ = 0;
    std::uint64_t acknowledgedBytes_ = 0;
    DeliveryLedger ledger_;
    std::chrono::milliseconds stallLimit_ = HostLink::kStallLimit;
};

// A host that takes none of the bytes waiting for it for the stall limit is lost.
class StallRule {
public:
    using Clock = std::chrono::steady_clock;
    explicit StallRule(Clock::time_point now) : lastProgress_(now) {}
    // After each look at the link: true once bytes have waited the limit without progress.
    bool Lost(bool progressed, bool waiting, std::chrono::milliseconds limit,
              Clock::time_point now);

private:
    Clock::time_point lastProgress_;
};

}  // namespace torvane
