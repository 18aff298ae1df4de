#include "net/SocketIo.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

namespace torvane {

bool SendAll(int fd, const char* data, std::size_t size, std::size_t* sent) {
    std::size_t total = 0;
    while (total < size) {
        const ssize_t now = ::send(fd, data + total, size - total, MSG_NOSIGNAL);
        if (now < 0) {
            if (errno == EINTR) continue;
            break;
        }
        total += static_cast<std::size_t>(now);
    }
    if (sent) *sent = total;
    return total == size;
}

ssize_t ReceiveSome(int fd, char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t received = ::recv(fd, buffer, capacity, 0);
        if (received >= 0 || errno != EINTR) return received;
    }
}

void SendWithoutDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void CloseSocket(int fd) {
    if (fd >= 0) ::close(fd);
}

}  // namespace torvane
