#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace torvane {

// Bytes written to the socket that the host's TCP has not acknowledged yet, from the kernel's
// send queue (SIOCOUTQ); nullopt when the kernel cannot tell, which counts nothing as delivered.
// After our side was shut down (`finQueued`), the end-of-stream mark holds one place in that
// queue until the host acknowledges it: it is not a byte of any line.
std::optional<std::uint64_t> UnacknowledgedBytes(int fd, bool finQueued);

// The bytes of a link's stream that its host has acknowledged, given what was written and what
// the kernel still holds; `before` stays when the kernel cannot tell. Never goes back.
std::uint64_t AcknowledgedBytes(std::uint64_t written, std::optional<std::uint64_t> unacknowledged,
                                std::uint64_t before);

// Where each tracked line ends in the stream of one link, and the highest one whose bytes are
// all acknowledged. Not locked: its owner guards it.
class DeliveryLedger {
public:
    void Clear();
    void Track(std::int64_t seq, std::uint64_t streamEnd) { ends_.emplace_back(seq, streamEnd); }
    // Takes the acknowledged byte count; the highest line newly delivered by it, or 0.
    std::int64_t Acknowledge(std::uint64_t acknowledgedBytes);
    // The highest line of this link delivered so far, or 0.
    std::int64_t Delivered() const { return delivered_; }

private:
    std::deque<std::pair<std::int64_t, std::uint64_t>> ends_;
    std::int64_t delivered_ = 0;
};

}  // namespace torvane
