#include "net/SocketIo.h"

#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

namespace torvane {

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

ssize_t ReceiveSome(int fd, char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t received = ::recv(fd, buffer, capacity, 0);
        if (received >= 0 || errno != EINTR) return received;
    }
}

void CloseSocket(int fd) {
    if (fd >= 0) ::close(fd);
}

}  // namespace torvane
