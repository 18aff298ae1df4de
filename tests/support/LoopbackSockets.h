#pragma once

// Plain loopback sockets with bounded waits, for tests that play the peer of a socket under
// test. Nothing here pumps the Qt event loop; the calls can run on any thread.

#include <string>

namespace torvane::test {

// Owns one descriptor; closes it when destroyed.
class SocketFd {
public:
    SocketFd() = default;
    explicit SocketFd(int fd) : fd_(fd) {}
    SocketFd(SocketFd&& other) noexcept : fd_(other.Release()) {}
    SocketFd& operator=(SocketFd&& other) noexcept;
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;
    ~SocketFd() { Close(); }

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Release();
    void Close();

private:
    int fd_ = -1;
};

// A socket listening on 127.0.0.1 (port 0: the system picks). Invalid on failure.
SocketFd ListenOnLoopback(int port = 0, int backlog = 16, bool reuseAddress = true);
// The local port a socket is bound to.
int LocalPort(int fd);
// A port on 127.0.0.1 that nothing listens on (bound once, then released).
int FreeLoopbackPort();

SocketFd ConnectToLoopback(int port);
// A new, unconnected TCP socket, and connecting it later (to control descriptor numbers).
SocketFd NewTcpSocket();
bool ConnectSocketToLoopback(const SocketFd& fd, int port);
// Starts a connection without waiting for it to be established (non-blocking socket).
SocketFd StartConnectToLoopback(int port);
// Accepts one connection within the time; invalid when none came.
SocketFd AcceptWithin(int listenFd, int timeoutMs = 5000);

bool SendBytes(int fd, const std::string& bytes);
// Appends what arrives until `into` holds at least `size` bytes or the time is up.
bool ReceiveAtLeast(int fd, std::string& into, std::size_t size, int timeoutMs = 5000);
// Everything that arrives within the time.
std::string ReceiveFor(int fd, int timeoutMs);
// True when the peer closes (or resets) the connection within the time; data is discarded.
bool WaitForPeerClose(int fd, int timeoutMs = 5000);

}  // namespace torvane::test
