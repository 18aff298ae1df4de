#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>

namespace torvane::test {
namespace {

void PumpEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Reads what is available without blocking; false when the peer closed.
bool DrainSocket(int fd, std::string& into) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) return false;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                PumpEvents();
                continue;
            }
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

TcpClient::~TcpClient() {
    Close();
}

bool TcpClient::Connect(int port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Close();
        return false;
    }
    peerClosed_ = false;
    return true;
}

bool TcpClient::Send(const std::string& bytes) {
    return fd_ >= 0 && SendAll(fd_, bytes);
}

void TcpClient::Pump() {
    PumpEvents();
    if (fd_ >= 0 && !peerClosed_ && !DrainSocket(fd_, received)) peerClosed_ = true;
}

bool TcpClient::WaitFor(const std::string& expected, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (received.find(expected) == std::string::npos) {
        if (elapsed.elapsed() > timeoutMs) return false;
        Pump();
    }
    return true;
}

std::string TcpClient::ReadFor(int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < timeoutMs) Pump();
    return received;
}

bool TcpClient::WaitForClose(int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!peerClosed_) {
        if (elapsed.elapsed() > timeoutMs) return false;
        Pump();
    }
    return true;
}

void TcpClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

TcpServer::TcpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = Loopback(0);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 8);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::fcntl(listener_, F_SETFL, O_NONBLOCK);
}

TcpServer::~TcpServer() {
    DropConnection();
    StopListening();
}

void TcpServer::StopListening() {
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
}

void TcpServer::Pump() {
    PumpEvents();
    if (client_ < 0 && listener_ >= 0) {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd >= 0) client_ = fd;
    }
    if (client_ >= 0 && !DrainSocket(client_, received)) DropConnection();
}

bool TcpServer::WaitForConnection(int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (client_ < 0) {
        if (elapsed.elapsed() > timeoutMs) return false;
        Pump();
    }
    return true;
}

bool TcpServer::Send(const std::string& bytes) {
    return client_ >= 0 && SendAll(client_, bytes);
}

std::vector<std::string> TcpServer::Lines() const {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = received.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(received.substr(start, end - start));
    }
    return lines;
}

bool TcpServer::WaitForLines(size_t count, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (Lines().size() < count) {
        if (elapsed.elapsed() > timeoutMs) return false;
        Pump();
    }
    return true;
}

size_t TcpServer::ReadForLines(int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    do {
        Pump();
    } while (elapsed.elapsed() < timeoutMs);
    return Lines().size();
}

void TcpServer::DropConnection() {
    if (client_ >= 0) ::close(client_);
    client_ = -1;
}

}  // namespace torvane::test
