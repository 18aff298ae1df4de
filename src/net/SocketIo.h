#pragma once

#include <sys/types.h>
#include <cstddef>

namespace torvane {

// Sends every byte, completing short sends and retrying interrupted calls; never raises
// SIGPIPE. False when the socket fails before all bytes are sent; `sent`, when given, tells how
// many went out.
bool SendAll(int fd, const char* data, std::size_t size, std::size_t* sent = nullptr);

// One blocking receive, retried when interrupted: > 0 bytes read, 0 peer closed, < 0 error.
ssize_t ReceiveSome(int fd, char* buffer, std::size_t capacity);

// Turns Nagle's algorithm off on a TCP socket: an acknowledgement or a host line is a few
// bytes and must leave at once, not wait for the peer's delayed ACK of the one before (up to
// 40 ms on Linux, 200 ms on Windows).
void SendWithoutDelay(int fd);

// Closes a descriptor; an interrupted close is not retried (Linux has released it anyway).
void CloseSocket(int fd);

}  // namespace torvane
