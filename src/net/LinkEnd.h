#pragma once

#include <cerrno>

namespace torvane {

// How a socket call left the host link.
enum class LinkEnd {
    Open,     // nothing ended
    Orderly,  // the host ended its side after everything it sent
    Reset,    // the host's system reset the link: what it held unread may be gone
    Failed,   // any other error
};

// The link's state after a socket call failed with `error`.
inline LinkEnd EndOfFailedCall(int error) {
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) return LinkEnd::Open;
    if (error == ECONNRESET || error == EPIPE) return LinkEnd::Reset;
    return LinkEnd::Failed;
}

}  // namespace torvane
