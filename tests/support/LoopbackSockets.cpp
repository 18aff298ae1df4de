#include "support/LoopbackSockets.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace torvane::test {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in LoopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the descriptor to become readable; false on time-out.
bool WaitReadable(int fd, Clock::time_point deadline) {
    for (;;) {
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, MillisecondsLeft(deadline));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

}  // namespace

SocketFd& SocketFd::operator=(SocketFd&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

int SocketFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void SocketFd::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

SocketFd ListenOnLoopback(int port, int backlog, bool reuseAddress) {
    SocketFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.IsOpen()) return fd;
    const int on = 1;
    if (reuseAddress) ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = LoopbackAddress(port);
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.Get(), backlog) != 0) {
        fd.Close();
    }
    return fd;
}

int LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

int FreeLoopbackPort() {
    SocketFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = LoopbackAddress(0);
    ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return LocalPort(fd.Get());
}

SocketFd NewTcpSocket() {
    return SocketFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

bool ConnectSocketToLoopback(const SocketFd& fd, int port) {
    const sockaddr_in address = LoopbackAddress(port);
    return ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

SocketFd ConnectToLoopback(int port) {
    SocketFd fd = NewTcpSocket();
    if (!ConnectSocketToLoopback(fd, port)) fd.Close();
    return fd;
}

SocketFd StartConnectToLoopback(int port) {
    SocketFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const sockaddr_in address = LoopbackAddress(port);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        fd.Close();
    }
    return fd;
}

SocketFd AcceptWithin(int listenFd, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!WaitReadable(listenFd, deadline)) return SocketFd();
    return SocketFd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
}

bool SendBytes(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReceiveAtLeast(int fd, std::string& into, std::size_t size, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    while (into.size() < size) {
        if (!WaitReadable(fd, deadline)) return false;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        into.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

std::string ReceiveFor(int fd, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string received;
    char buffer[65536];
    while (WaitReadable(fd, deadline)) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

bool WaitForPeerClose(int fd, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    while (WaitReadable(fd, deadline)) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
    }
    return false;
}

}  // namespace torvane::test
