#include "net/HostSendQueue.h"

#include <sys/socket.h>

#include <cerrno>

namespace torvane {
namespace {

// Written bytes are dropped from the front of the queue once this many have gathered.
constexpr std::size_t kCompactBytes = 64 * 1024;

}  // namespace

void HostSendQueue::Open(std::uint64_t run) {
    std::lock_guard guard(lock_);
    open_ = true;
    takingLines_ = true;
    run_ = run;
    std::string().swap(queued_);
    queuedOffset_ = 0;
    streamBytes_ = 0;
    writtenBytes_ = 0;
    acknowledgedBytes_ = 0;
    ledger_.Clear();
}

void HostSendQueue::Close() {
    {
        std::lock_guard guard(lock_);
        open_ = false;
        takingLines_ = false;
        std::string().swap(queued_);
        queuedOffset_ = 0;
    }
    progressed_.notify_all();
}

bool HostSendQueue::Queue(std::uint64_t run, const std::vector<OutgoingLine>& lines) {
    std::lock_guard guard(lock_);
    if (!open_ || !takingLines_ || run_ != run) return false;
    for (const OutgoingLine& line : lines) {
        queued_.append(line.text).append("\r\n");
        streamBytes_ += line.text.size() + 2;
        if (line.seq > 0) ledger_.Track(line.seq, streamBytes_);
    }
    return true;
}

std::uint64_t HostSendQueue::StopTakingLines() {
    std::lock_guard guard(lock_);
    takingLines_ = false;
    return open_ ? run_ : 0;
}

std::uint64_t HostSendQueue::OpenRun() const {
    std::lock_guard guard(lock_);
    return open_ ? run_ : 0;
}

std::size_t HostSendQueue::Unwritten() const {
    std::lock_guard guard(lock_);
    return queued_.size() - queuedOffset_;
}

std::uint64_t HostSendQueue::Written() const {
    std::lock_guard guard(lock_);
    return writtenBytes_;
}

bool HostSendQueue::Waiting() const {
    std::lock_guard guard(lock_);
    return WaitingLocked();
}

bool HostSendQueue::WaitingLocked() const {
    return queued_.size() > queuedOffset_ || writtenBytes_ > acknowledgedBytes_;
}

LinkEnd HostSendQueue::WriteTo(int fd) {
    std::lock_guard guard(lock_);
    while (queued_.size() > queuedOffset_) {
        const ssize_t sent = ::send(fd, queued_.data() + queuedOffset_,
                                    queued_.size() - queuedOffset_, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            const LinkEnd end = EndOfFailedCall(errno);
            if (end != LinkEnd::Open) return end;
            break;
        }
        queuedOffset_ += static_cast<std::size_t>(sent);
        writtenBytes_ += static_cast<std::uint64_t>(sent);
    }
    Compact();
    return LinkEnd::Open;
}

// A backlog's buffer goes back once it is written, not kept for the next one.
void HostSendQueue::Compact() {
    if (queuedOffset_ == queued_.size()) {
        if (queued_.capacity() > kCompactBytes) {
            std::string().swap(queued_);
        } else {
            queued_.clear();
        }
        queuedOffset_ = 0;
    } else if (queuedOffset_ >= kCompactBytes && queuedOffset_ * 2 >= queued_.size()) {
        queued_.erase(0, queuedOffset_);
        queuedOffset_ = 0;
    }
}

std::int64_t HostSendQueue::Acknowledge(std::uint64_t acknowledgedBytes) {
    std::int64_t delivered = 0;
    {
        std::lock_guard guard(lock_);
        if (acknowledgedBytes <= acknowledgedBytes_) return 0;
        acknowledgedBytes_ = acknowledgedBytes;
        delivered = ledger_.Acknowledge(acknowledgedBytes);
    }
    progressed_.notify_all();
    return delivered;
}

std::uint64_t HostSendQueue::Acknowledged() const {
    std::lock_guard guard(lock_);
    return acknowledgedBytes_;
}

bool HostSendQueue::WaitUntilThrough(std::uint64_t run,
                                     std::chrono::steady_clock::time_point deadline) {
    std::unique_lock guard(lock_);
    progressed_.wait_until(guard, deadline,
                           [&] { return !open_ || run_ != run || !WaitingLocked(); });
    return open_ && run_ == run && !WaitingLocked();
}

std::int64_t HostSendQueue::DeliveredBy(std::uint64_t run) const {
    std::lock_guard guard(lock_);
    return run_ == run ? ledger_.Delivered() : 0;
}

std::chrono::milliseconds HostSendQueue::StallLimit() const {
    std::lock_guard guard(lock_);
    return stallLimit_;
}

void HostSendQueue::SetStallLimit(std::chrono::milliseconds limit) {
    std::lock_guard guard(lock_);
    stallLimit_ = limit;
}

bool StallRule::Lost(bool progressed, bool waiting, std::chrono::milliseconds limit,
                     Clock::time_point now) {
    if (progressed || !waiting) {
        lastProgress_ = now;
        return false;
    }
    return now - lastProgress_ >= limit;
}

}  // namespace torvane
