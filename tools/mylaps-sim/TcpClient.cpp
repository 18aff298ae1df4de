#include "TcpClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace mylapssim {
namespace {

std::string ResolveIPv4(const std::string& host, int port, sockaddr_in& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0 || !found) return std::string("cannot resolve ") + host + ": " + gai_strerror(rc);
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    return {};
}

std::string WaitForConnection(int fd, int timeoutMs) {
    pollfd waiting{fd, POLLOUT, 0};
    int ready;
    do ready = poll(&waiting, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    if (ready == 0) return "connection timed out";
    int error = 0;
    socklen_t length = sizeof error;
    if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    return error == 0 ? std::string() : std::strerror(error);
}

}  // namespace

std::string TcpClient::Connect(const std::string& host, int port, int timeoutMs) {
    Close();
    sockaddr_in address{};
    if (std::string problem = ResolveIPv4(host, port, address); !problem.empty()) return problem;

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::strerror(errno);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    std::string problem;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        problem = errno == EINPROGRESS ? WaitForConnection(fd, timeoutMs) : std::strerror(errno);
    if (!problem.empty()) {
        ::close(fd);
        return problem;
    }
    fd_ = fd;
    return {};
}

void TcpClient::Queue(std::string_view bytes) {
    if (!IsOpen()) return;
    outbox_.append(bytes);
    Flush();
}

bool TcpClient::Flush() {
    while (IsOpen() && !outbox_.empty()) {
        const ssize_t sent = ::send(fd_, outbox_.data(), outbox_.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            outbox_.erase(0, static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        } else {
            Close();
            return false;
        }
    }
    return IsOpen();
}

bool TcpClient::Read(std::string& into) {
    char buffer[16384];
    while (IsOpen()) {
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got > 0) {
            into.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        } else {
            Close();
            return false;
        }
    }
    return false;
}

void TcpClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    outbox_.clear();
}

}  // namespace mylapssim
