#include "CountingHost.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

namespace torvane::test {

CountingHost::CountingHost(int port) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1, small = 4096;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        ::listen(listener_, 4);
    }
    thread_ = std::thread([this] { Serve(); });
}

CountingHost::~CountingHost() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

void CountingHost::Serve() {
    int client = -1;
    char block[4096];
    while (!stop_) {
        if (client >= 0 && die_.exchange(false)) EndConnection(client);
        pollfd watched{client >= 0 ? client : listener_, POLLIN, 0};
        if (client >= 0 && !reading_) watched.events = 0;
        if (::poll(&watched, 1, 20) <= 0) continue;
        if (client < 0) {
            client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            continue;
        }
        const ssize_t received = ::recv(client, block, sizeof block, 0);
        if (received <= 0) {
            EndConnection(client);
            continue;
        }
        Take(block, static_cast<std::size_t>(received));
    }
    if (client >= 0) ::close(client);
}

// A line cut by the end of its connection is no line: the next connection starts afresh.
void CountingHost::EndConnection(int& client) {
    ::close(client);
    client = -1;
    std::lock_guard guard(lock_);
    partial_.clear();
}

void CountingHost::Take(const char* bytes, std::size_t size) {
    static const std::regex detection("AddDagClock\\(1\t[^\t]*\t([^\t]*)\t");
    std::lock_guard guard(lock_);
    partial_.append(bytes, size);
    std::size_t start = 0;
    for (std::size_t end; (end = partial_.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        std::smatch match;
        const std::string line = partial_.substr(start, end - start);
        if (std::regex_search(line, match, detection)) {
            ++seen_[match[1]];
            ++count_;
        }
    }
    partial_.erase(0, start);
}

std::map<std::string, int> CountingHost::Detections() const {
    std::lock_guard guard(lock_);
    return seen_;
}

std::size_t CountingHost::DetectionCount() const {
    std::lock_guard guard(lock_);
    return count_;
}

}  // namespace torvane::test
