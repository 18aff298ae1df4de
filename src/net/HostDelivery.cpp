#include "net/HostDelivery.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <algorithm>

namespace torvane {

std::optional<std::uint64_t> UnacknowledgedBytes(int fd, bool finQueued) {
    int outstanding = 0;
    if (::ioctl(fd, SIOCOUTQ, &outstanding) != 0 || outstanding < 0) return std::nullopt;
    std::uint64_t bytes = static_cast<std::uint64_t>(outstanding);
    if (finQueued && bytes > 0) --bytes;
    return bytes;
}

std::uint64_t AcknowledgedBytes(std::uint64_t written, std::optional<std::uint64_t> unacknowledged,
                                std::uint64_t before) {
    if (!unacknowledged) return before;
    return std::max(before, written - std::min(written, *unacknowledged));
}

void DeliveryLedger::Clear() {
    ends_.clear();
    delivered_ = 0;
}

std::int64_t DeliveryLedger::Acknowledge(std::uint64_t acknowledgedBytes) {
    std::int64_t newest = 0;
    while (!ends_.empty() && ends_.front().second <= acknowledgedBytes) {
        newest = ends_.front().first;
        ends_.pop_front();
    }
    if (newest > 0) delivered_ = newest;
    return newest;
}

}  // namespace torvane
