#include "net/HostLink.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/Logging.h"
#include "base/PostedMessage.h"
#include "base/Texts.h"
#include "net/HostLineFramer.h"
#include "net/SocketIo.h"

namespace torvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr std::size_t kReceiveBlockBytes = 4096;
// While bytes wait for the host's acknowledgement, the link looks at them this often.
constexpr int kDeliveryPollMs = 20;
constexpr int kIdlePollMs = 1000;
// Written bytes are dropped from the front of the queue once this many have gathered.
constexpr std::size_t kCompactBytes = 64 * 1024;
// How long a link that Torvane ends waits for the host to end its side.
constexpr auto kGracefulCloseLimit = std::chrono::milliseconds(500);

void PostNotice(HostNotice notice, std::uint64_t run) {
    PostToTarget(WM_HOST_LINK_STATE, static_cast<std::intptr_t>(notice),
                 std::make_unique<RunPayload>(run));
}

void LogLineTooLong(std::size_t bytes) {
    Log(0, Format(Tr("$$$ Host line too long (%zu bytes), dropped",
                     "$$$ Ligne de l'hôte trop longue (%zu octets), ignorée"),
                  bytes));
}

bool SetBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, wanted) == 0;
}

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

// Bytes written to the socket that the peer's TCP has not acknowledged yet.
std::uint64_t UnacknowledgedBytes(int fd) {
    int outstanding = 0;
    if (::ioctl(fd, SIOCOUTQ, &outstanding) != 0 || outstanding < 0) return 0;
    return static_cast<std::uint64_t>(outstanding);
}

struct Target {
    std::string host;
    int port = 0;
};

}  // namespace

// Locking: `lock` guards everything below it except `liveRun`, which the worker reads without
// the lock to notice a stop inside a connection attempt. The worker alone creates and closes
// sockets; it writes to its socket under `lock`, so a queued line never reaches a descriptor
// the system has handed out again. `wakeFd` wakes the worker's poll.
struct HostLink::Impl {
    Impl();
    ~Impl();

    void Start(const std::string& host, int port, int retryDelaySeconds);
    void Stop();
    bool Queue(std::uint64_t run, const std::vector<OutgoingLine>& lines);
    bool QueueOnOpenLink(const std::string& text);
    void Wake();

    void WorkerLoop();
    void RunLink(std::uint64_t run);
    bool IsCurrent(std::uint64_t run) const { return liveRun.load() == run; }
    int ConnectLoop(std::uint64_t run);
    int ConnectOnce(const Target& target, std::uint64_t run);
    bool WaitBeforeRetry(std::uint64_t run, const Target& tried, steady_clock::time_point failed);
    bool Adopt(std::uint64_t run, int fd);
    bool Serve(std::uint64_t run, int fd);
    void CloseGracefully(int fd);
    bool ReadAvailable(int fd, HostLineFramer& framer);
    bool WriteQueued(int fd);
    void ReportDelivered(std::uint64_t acknowledged);
    void Release(int fd);

    mutable std::mutex lock;
    std::condition_variable changed;
    std::thread worker;
    int wakeFd = -1;
    bool shuttingDown = false;

    // What the program wants: a run (numbered), its target and retry delay.
    bool wanted = false;
    std::uint64_t wantedRun = 0;
    std::atomic<std::uint64_t> liveRun{0};  // wantedRun while wanted, else 0
    Target target;
    int retryDelaySeconds = 0;

    // What the worker does.
    bool running = false;
    std::uint64_t finishedRun = 0;
    bool connected = false;
    std::uint64_t connectedRun = 0;
    int fd = -1;

    // The queue of the open link: bytes not yet written, and where each tracked line ends in
    // the stream of the connection.
    std::string queued;
    std::size_t queuedOffset = 0;
    std::uint64_t streamBytes = 0;  // appended since the connection opened
    std::uint64_t writtenBytes = 0;
    std::deque<std::pair<std::int64_t, std::uint64_t>> trackedEnds;
    std::int64_t lastDelivered = 0;  // the highest tracked line reported delivered
    milliseconds stallLimit = HostLink::kStallLimit;
};

HostLink::Impl::Impl() : wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

HostLink::Impl::~Impl() {
    {
        std::lock_guard guard(lock);
        shuttingDown = true;
        wanted = false;
        liveRun = 0;
    }
    changed.notify_all();
    Wake();
    if (worker.joinable()) worker.join();
    if (wakeFd >= 0) ::close(wakeFd);
}

void HostLink::Impl::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
}

void HostLink::Impl::Start(const std::string& host, int port, int retryDelaySeconds_) {
    {
        std::lock_guard guard(lock);
        if (shuttingDown) return;
        // The newest target and delay serve the next attempt of any run.
        target = {host, port};
        retryDelaySeconds = retryDelaySeconds_;
        if (!wanted) {
            wanted = true;
            liveRun = ++wantedRun;
        }
        if (!worker.joinable()) {
            try {
                worker = std::thread([this] { WorkerLoop(); });
            } catch (const std::system_error&) {
                wanted = false;
                liveRun = 0;
            }
        }
    }
    changed.notify_all();
    Wake();
}

void HostLink::Impl::Stop() {
    {
        std::lock_guard guard(lock);
        if (!wanted) return;
        wanted = false;
        liveRun = 0;
    }
    changed.notify_all();
    Wake();
}

bool HostLink::Impl::Queue(std::uint64_t run, const std::vector<OutgoingLine>& lines) {
    {
        std::lock_guard guard(lock);
        if (!connected || connectedRun != run || !IsCurrent(run)) return false;
        for (const OutgoingLine& line : lines) {
            queued.append(line.text).append("\r\n");
            streamBytes += line.text.size() + 2;
            if (line.seq > 0) trackedEnds.emplace_back(line.seq, streamBytes);
        }
    }
    Wake();
    return true;
}

bool HostLink::Impl::QueueOnOpenLink(const std::string& text) {
    std::uint64_t run = 0;
    {
        std::lock_guard guard(lock);
        run = connectedRun;
    }
    return run != 0 && Queue(run, {OutgoingLine{0, text}});
}

void HostLink::Impl::WorkerLoop() {
    for (;;) {
        std::uint64_t run = 0;
        {
            std::unique_lock guard(lock);
            changed.wait(guard,
                         [this] { return shuttingDown || (wanted && wantedRun != finishedRun); });
            if (shuttingDown) return;
            run = wantedRun;
            running = true;
        }
        RunLink(run);
        {
            std::lock_guard guard(lock);
            running = false;
            finishedRun = run;
            // A run ends with its link: the next one needs a new start.
            if (wanted && wantedRun == run) {
                wanted = false;
                liveRun = 0;
            }
        }
        changed.notify_all();
    }
}

void HostLink::Impl::RunLink(std::uint64_t run) {
    const int socket = ConnectLoop(run);
    if (socket < 0) return;
    if (!Adopt(run, socket)) {
        CloseSocket(socket);
        return;
    }
    if (!Serve(run, socket)) CloseGracefully(socket);
    Release(socket);
    PostNotice(HostNotice::Ended, run);
}

// Attempts until one succeeds (its socket) or the run is stopped (-1). Every notice 1 is
// followed by a notice 3 or 2, so the window never keeps showing an attempt that has ended.
int HostLink::Impl::ConnectLoop(std::uint64_t run) {
    for (;;) {
        Target tried;
        {
            std::lock_guard guard(lock);
            if (!IsCurrent(run)) return -1;
            tried = target;
        }
        PostNotice(HostNotice::Attempt, run);
        const int socket = ConnectOnce(tried, run);
        if (socket >= 0) return socket;
        PostNotice(HostNotice::Ended, run);
        if (!WaitBeforeRetry(run, tried, steady_clock::now())) return -1;
    }
}

// One attempt with the time-out, in wait steps so that a stop is seen within one step; the
// connected socket (non-blocking), or -1.
int HostLink::Impl::ConnectOnce(const Target& tried, std::uint64_t run) {
    sockaddr_in address{};
    if (!ResolveIPv4(tried.host, tried.port, address)) return -1;
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0) return -1;
    bool established =
        ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    bool timedOut = false;
    if (!established && (errno == EINPROGRESS || errno == EINTR)) {
        const auto deadline = steady_clock::now() + std::chrono::seconds(kConnectTimeoutSeconds);
        for (;;) {
            if (!IsCurrent(run)) break;
            const auto left =
                std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now());
            if (left.count() <= 0) {
                timedOut = true;
                break;
            }
            pollfd watched{socket, POLLOUT, 0};
            const int ready = ::poll(
                &watched, 1, static_cast<int>(std::min<long long>(left.count(), kWaitStepMs)));
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
    return socket;
}

// Waits the retry delay, counted from the failed attempt; the delay and the target are read
// anew at every step, so a shorter delay or another host given meanwhile takes effect at once.
// False as soon as the run is stopped.
bool HostLink::Impl::WaitBeforeRetry(std::uint64_t run, const Target& tried,
                                     steady_clock::time_point failed) {
    std::unique_lock guard(lock);
    for (;;) {
        if (!IsCurrent(run)) return false;
        if (target.host != tried.host || target.port != tried.port) return true;
        // At least one step, so that a zero delay cannot flood the window with notices.
        const auto delay = milliseconds(std::max(kWaitStepMs, retryDelaySeconds * 1000));
        const auto now = steady_clock::now();
        if (now >= failed + delay) return true;
        changed.wait_for(guard, std::min<steady_clock::duration>(milliseconds(kWaitStepMs),
                                                                 failed + delay - now));
    }
}

// Makes the new socket the open link, unless the run was stopped while it was being connected.
bool HostLink::Impl::Adopt(std::uint64_t run, int socket) {
    std::lock_guard guard(lock);
    if (!IsCurrent(run)) return false;
    fd = socket;
    connected = true;
    connectedRun = run;
    queued.clear();
    queuedOffset = 0;
    streamBytes = 0;
    writtenBytes = 0;
    trackedEnds.clear();
    lastDelivered = 0;
    PostNotice(HostNotice::Connected, run);  // under the lock: no notice 2 can follow a stop
    return true;
}

// Reads and writes until the link ends: the host closes it, an error, a stop, or a host that
// has taken nothing of what waits for it for the stall limit. True when the host's side ended it.
bool HostLink::Impl::Serve(std::uint64_t run, int socket) {
    bool peerEnded = false;
    HostLineFramer framer(kMaxLineBytes);
    std::uint64_t acknowledged = 0;
    auto lastProgress = steady_clock::now();
    for (;;) {
        bool toWrite = false;
        bool waiting = false;
        milliseconds limit;
        {
            std::lock_guard guard(lock);
            if (!IsCurrent(run)) break;
            toWrite = queued.size() > queuedOffset;
            waiting = toWrite || writtenBytes > acknowledged;
            limit = stallLimit;
        }
        pollfd watched[2] = {{socket, static_cast<short>(POLLIN | (toWrite ? POLLOUT : 0)), 0},
                             {wakeFd, POLLIN, 0}};
        if (::poll(watched, 2, waiting ? kDeliveryPollMs : kIdlePollMs) < 0 && errno != EINTR) {
            peerEnded = true;
            break;
        }
        if (watched[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t drained = ::read(wakeFd, &count, sizeof count);
        }
        if ((watched[0].revents & (POLLIN | POLLHUP | POLLERR)) && !ReadAvailable(socket, framer)) {
            peerEnded = true;
            break;
        }
        if ((watched[0].revents & POLLOUT) && !WriteQueued(socket)) {
            peerEnded = true;
            break;
        }

        const std::uint64_t written = [this] {
            std::lock_guard guard(lock);
            return writtenBytes;
        }();
        const std::uint64_t unacknowledged = std::min(written, UnacknowledgedBytes(socket));
        const auto now = steady_clock::now();
        if (written - unacknowledged > acknowledged) {
            acknowledged = written - unacknowledged;
            ReportDelivered(acknowledged);
            lastProgress = now;
        } else if (!waiting) {
            lastProgress = now;
        } else if (now - lastProgress >= limit) {
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
            Log(0, Format(Tr("$$$ Ostrak Pro has taken nothing for %lld s: link closed",
                             "$$$ Ostrak Pro ne prend plus rien depuis %lld s : liaison fermée"),
                          static_cast<long long>(seconds)));
            break;
        }
    }
    if (const std::size_t pending = framer.PendingOverlongBytes()) LogLineTooLong(pending);
    return peerEnded;
}

// Ends our side first and lets the host see the end after every byte it was sent: a socket
// closed with answers still unread would be reset, and a reset makes the host's system drop
// what it had received but its program not yet read.
void HostLink::Impl::CloseGracefully(int socket) {
    ::shutdown(socket, SHUT_WR);
    const auto deadline = steady_clock::now() + kGracefulCloseLimit;
    char discarded[kReceiveBlockBytes];
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0) return;
        pollfd watched{socket, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        const ssize_t received = ::recv(socket, discarded, sizeof discarded, MSG_DONTWAIT);
        if (received == 0 || (received < 0 && errno != EAGAIN && errno != EINTR)) return;
    }
}

// Takes what the socket holds; false when the link has ended.
bool HostLink::Impl::ReadAvailable(int socket, HostLineFramer& framer) {
    char block[kReceiveBlockBytes];
    std::string line;
    std::size_t droppedBytes = 0;
    for (;;) {
        const ssize_t received = ::recv(socket, block, sizeof block, 0);
        if (received == 0) return false;
        if (received < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        framer.Append(block, static_cast<std::size_t>(received));
        for (;;) {
            const auto outcome = framer.Next(line, droppedBytes);
            if (outcome == HostLineFramer::Outcome::NeedMore) break;
            if (outcome == HostLineFramer::Outcome::TooLong) {
                LogLineTooLong(droppedBytes);
            } else {
                PostToTarget(WM_HOST_LINE, 0, std::make_unique<TextPayload>(std::move(line)));
                line.clear();
            }
        }
        if (static_cast<std::size_t>(received) < sizeof block) return true;
    }
}

// Writes as much of the queue as the socket takes now; false when the link has failed.
bool HostLink::Impl::WriteQueued(int socket) {
    std::lock_guard guard(lock);
    while (queued.size() > queuedOffset) {
        const ssize_t sent = ::send(socket, queued.data() + queuedOffset,
                                    queued.size() - queuedOffset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        queuedOffset += static_cast<std::size_t>(sent);
        writtenBytes += static_cast<std::uint64_t>(sent);
    }
    if (queuedOffset == queued.size()) {
        // A backlog's buffer goes back once it is written, not kept for the next one.
        if (queued.capacity() > kCompactBytes) {
            std::string().swap(queued);
        } else {
            queued.clear();
        }
        queuedOffset = 0;
    } else if (queuedOffset >= kCompactBytes && queuedOffset * 2 >= queued.size()) {
        queued.erase(0, queuedOffset);
        queuedOffset = 0;
    }
    return true;
}

// Posts the highest tracked line whose bytes are all acknowledged, if a new one is.
void HostLink::Impl::ReportDelivered(std::uint64_t acknowledged) {
    std::int64_t delivered = 0;
    {
        std::lock_guard guard(lock);
        while (!trackedEnds.empty() && trackedEnds.front().second <= acknowledged) {
            delivered = trackedEnds.front().first;
            trackedEnds.pop_front();
        }
    }
    if (delivered > 0) {
        {
            std::lock_guard guard(lock);
            lastDelivered = delivered;
        }
        changed.notify_all();
        PostToTarget(WM_HOST_DELIVERED, static_cast<std::intptr_t>(delivered));
    }
}

void HostLink::Impl::Release(int socket) {
    {
        std::lock_guard guard(lock);
        // What the host's TCP took before the end counts as delivered.
        const std::uint64_t unacknowledged = std::min(writtenBytes, UnacknowledgedBytes(socket));
        const std::uint64_t acknowledged = writtenBytes - unacknowledged;
        std::int64_t delivered = 0;
        while (!trackedEnds.empty() && trackedEnds.front().second <= acknowledged) {
            delivered = trackedEnds.front().first;
            trackedEnds.pop_front();
        }
        if (delivered > 0) {
            lastDelivered = delivered;
            PostToTarget(WM_HOST_DELIVERED, static_cast<std::intptr_t>(delivered));
        }
        fd = -1;
        connected = false;
        connectedRun = 0;
        queued.clear();
        queuedOffset = 0;
        trackedEnds.clear();
    }
    CloseSocket(socket);
}

HostLink::HostLink() : impl_(std::make_unique<Impl>()) {}

HostLink::~HostLink() = default;

void HostLink::StartHostLink(const std::string& host, int port, int retryDelaySeconds) {
    impl_->Start(host, port, retryDelaySeconds);
}

void HostLink::StopHostLink() {
    impl_->Stop();
}

void HostLink::UpdateTarget(const std::string& host, int port) {
    {
        std::lock_guard guard(impl_->lock);
        if (!impl_->wanted) return;
        impl_->target = {host, port};
    }
    impl_->changed.notify_all();
}

bool HostLink::SendHostLine(const std::string& text) {
    return impl_->QueueOnOpenLink(text);
}

bool HostLink::QueueLines(std::uint64_t run, const std::vector<OutgoingLine>& lines) {
    return impl_->Queue(run, lines);
}

bool HostLink::IsHostLinkConnected() const {
    std::lock_guard guard(impl_->lock);
    return impl_->connected && impl_->IsCurrent(impl_->connectedRun);
}

std::uint64_t HostLink::ConnectedRun() const {
    std::lock_guard guard(impl_->lock);
    return impl_->connectedRun;
}

bool HostLink::IsRunning() const {
    std::lock_guard guard(impl_->lock);
    return impl_->wanted || impl_->running;
}

std::size_t HostLink::UnwrittenBytes() const {
    std::lock_guard guard(impl_->lock);
    return impl_->queued.size() - impl_->queuedOffset;
}

std::int64_t HostLink::DrainAndStop(std::chrono::milliseconds limit) {
    std::int64_t delivered = 0;
    {
        std::unique_lock guard(impl_->lock);
        impl_->changed.wait_for(guard, limit, [this] {
            return !impl_->connected ||
                   (impl_->queued.size() == impl_->queuedOffset && impl_->trackedEnds.empty());
        });
        delivered = impl_->lastDelivered;
    }
    impl_->Stop();
    WaitUntilStopped(static_cast<int>(limit.count()) + 1000);
    std::lock_guard guard(impl_->lock);
    return std::max(delivered, impl_->lastDelivered);
}

bool HostLink::WaitUntilStopped(int timeoutMs) {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, milliseconds(timeoutMs),
                                   [this] { return !impl_->wanted && !impl_->running; });
}

void HostLink::SetStallLimitForTesting(std::chrono::milliseconds limit) {
    std::lock_guard guard(impl_->lock);
    impl_->stallLimit = limit;
}

}  // namespace torvane
