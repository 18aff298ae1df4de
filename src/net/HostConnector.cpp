#include "net/HostConnector.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/PostedMessage.h"
#include "net/HostLink.h"
#include "net/SocketIo.h"

namespace torvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

bool ResolveIPv4(const std::string& host, int port, sockaddr_in& address) {
    if (port < 1 || port > 65535) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return true;
}

bool HasSocketError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0;
}

void PostNotice(HostNotice notice, std::uint64_t run) {
    PostToTarget(WM_HOST_LINK_STATE, static_cast<std::intptr_t>(notice),
                 std::make_unique<RunPayload>(run));
}

}  // namespace

bool HostConnector::Start(const std::string& host, int port, int retryDelaySeconds) {
    bool begun = false;
    {
        std::lock_guard guard(lock_);
        if (shuttingDown_) return false;
        target_ = {host, port};
        if (!wanted_) {
            wanted_ = true;
            liveRun_ = ++wantedRun_;
            retryDelaySeconds_ = retryDelaySeconds;
            begun = true;
        }
    }
    changed_.notify_all();
    return begun;
}

bool HostConnector::Stop() {
    {
        std::lock_guard guard(lock_);
        if (!wanted_) return false;
        wanted_ = false;
        liveRun_ = 0;
    }
    changed_.notify_all();
    return true;
}

void HostConnector::UpdateTarget(const std::string& host, int port) {
    {
        std::lock_guard guard(lock_);
        if (!wanted_) return;
        target_ = {host, port};
    }
    changed_.notify_all();
}

void HostConnector::Shutdown() {
    {
        std::lock_guard guard(lock_);
        shuttingDown_ = true;
        wanted_ = false;
        liveRun_ = 0;
    }
    changed_.notify_all();
}

bool HostConnector::IsRunning() const {
    std::lock_guard guard(lock_);
    return wanted_ || running_;
}

bool HostConnector::WaitUntilStopped(milliseconds timeout) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [this] { return !wanted_ && !running_; });
}

std::uint64_t HostConnector::WaitForRun() {
    std::unique_lock guard(lock_);
    changed_.wait(guard,
                  [this] { return shuttingDown_ || (wanted_ && wantedRun_ != finishedRun_); });
    if (shuttingDown_) return 0;
    running_ = true;
    return wantedRun_;
}

void HostConnector::Finish(std::uint64_t run) {
    {
        std::lock_guard guard(lock_);
        running_ = false;
        finishedRun_ = run;
        // A run ends with its link: the next one needs a new start.
        if (wanted_ && wantedRun_ == run) {
            wanted_ = false;
            liveRun_ = 0;
        }
    }
    changed_.notify_all();
}

// Every notice 1 is followed by a notice 3 or 2, so the window never keeps showing an attempt
// that has ended.
int HostConnector::Connect(std::uint64_t run) {
    for (;;) {
        HostTarget tried;
        {
            std::lock_guard guard(lock_);
            if (!IsCurrent(run)) return -1;
            tried = target_;
        }
        PostNotice(HostNotice::Attempt, run);
        const int socket = ConnectOnce(tried, run);
        if (socket >= 0) return socket;
        PostNotice(HostNotice::Ended, run);
        if (!WaitBeforeRetry(run, tried, steady_clock::now())) return -1;
    }
}

// One attempt with the time-out, in wait steps so that a stop is seen within one step.
int HostConnector::ConnectOnce(const HostTarget& tried, std::uint64_t run) const {
    sockaddr_in address{};
    if (!ResolveIPv4(tried.host, tried.port, address)) return -1;
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0) return -1;
    bool established =
        ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    bool timedOut = false;
    if (!established && (errno == EINPROGRESS || errno == EINTR)) {
        const auto deadline =
            steady_clock::now() + std::chrono::seconds(HostLink::kConnectTimeoutSeconds);
        for (;;) {
            if (!IsCurrent(run)) break;
            const auto left =
                std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now());
            if (left.count() <= 0) {
                timedOut = true;
                break;
            }
            pollfd watched{socket, POLLOUT, 0};
            const int ready =
                ::poll(&watched, 1,
                       static_cast<int>(std::min<long long>(left.count(), HostLink::kWaitStepMs)));
            if (ready > 0) {
                established = !HasSocketError(socket);
                break;
            }
            if (ready < 0 && errno != EINTR) break;
        }
    }
    if (timedOut) ::shutdown(socket, SHUT_WR);
    if (!established) {
        CloseSocket(socket);
        return -1;
    }
    SendWithoutDelay(socket);
    return socket;
}

// Waits the run's retry delay, counted from the failed attempt; a target changed meanwhile is
// tried at once. False as soon as the run is stopped.
bool HostConnector::WaitBeforeRetry(std::uint64_t run, const HostTarget& tried,
                                    steady_clock::time_point failed) {
    std::unique_lock guard(lock_);
    // At least one step, so that a zero delay cannot flood the window with notices.
    const auto delay = milliseconds(std::max(HostLink::kWaitStepMs, retryDelaySeconds_ * 1000));
    for (;;) {
        if (!IsCurrent(run)) return false;
        if (target_.host != tried.host || target_.port != tried.port) return true;
        const auto now = steady_clock::now();
        if (now >= failed + delay) return true;
        changed_.wait_for(guard, std::min<steady_clock::duration>(
                                     milliseconds(HostLink::kWaitStepMs), failed + delay - now));
    }
}

bool HostConnector::AdoptIfCurrent(std::uint64_t run, const std::function<void()>& adopt) {
    std::lock_guard guard(lock_);
    if (!IsCurrent(run)) return false;
    adopt();
    return true;
}

}  // namespace torvane
