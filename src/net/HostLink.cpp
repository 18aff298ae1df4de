#include "net/HostLink.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
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

// One run of the link thread: from its start to its end. StopHostLink marks it stopped.
struct LinkRun {
    std::atomic<bool> stopped{false};
    int fd = -1;  // the connected socket, guarded by the state lock; only the thread closes it
};

enum class WaitOutcome { Writable, TimedOut, Stopped, Failed };

void PostNotice(HostNotice notice) {
    PostToTarget(WM_HOST_LINK_STATE, static_cast<std::intptr_t>(notice));
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

// Waits for a connection under way, in wait steps so that a stop is seen within one step.
WaitOutcome WaitUntilWritable(int fd, const LinkRun& run) {
    const auto deadline =
        steady_clock::now() + std::chrono::seconds(HostLink::kConnectTimeoutSeconds);
    for (;;) {
        if (run.stopped) return WaitOutcome::Stopped;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0) return WaitOutcome::TimedOut;
        pollfd watched{fd, POLLOUT, 0};
        const int ready =
            ::poll(&watched, 1,
                   static_cast<int>(std::min<long long>(left.count(), HostLink::kWaitStepMs)));
        if (ready > 0) return WaitOutcome::Writable;
        if (ready < 0 && errno != EINTR) return WaitOutcome::Failed;
    }
}

bool HasSocketError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0;
}

// One connection attempt with the time-out; the connected socket (blocking), or -1.
int ConnectOnce(const std::string& host, int port, const LinkRun& run) {
    sockaddr_in address{};
    if (!ResolveIPv4(host, port, address)) return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (!SetBlocking(fd, false)) {
        CloseSocket(fd);
        return -1;
    }

    bool established =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    bool timedOut = false;
    if (!established && (errno == EINPROGRESS || errno == EINTR)) {
        const WaitOutcome outcome = WaitUntilWritable(fd, run);
        timedOut = outcome == WaitOutcome::TimedOut;
        established = outcome == WaitOutcome::Writable && !HasSocketError(fd);
    }
    established = SetBlocking(fd, true) && established;

    if (timedOut) ::shutdown(fd, SHUT_WR);
    if (!established) {
        CloseSocket(fd);
        return -1;
    }
    return fd;
}

}  // namespace

// Locking: stateLock guards the flags, the settings of the run and each run's socket;
// sendLock is held by a send and by the thread while it closes its socket, so a send never
// reaches a descriptor number the system has handed out again. Order: sendLock, then stateLock.
// Every notice 1 is followed by a notice 3 (with a 2 between them when the link was made), also
// when the link is stopped, so the window never keeps showing an attempt that has ended.
struct HostLink::Impl {
    void Start(const std::string& host, int port, int retryDelaySeconds);
    void Stop();
    bool Send(const std::string& text);
    std::size_t SendLines(const std::vector<std::string>& texts);
    bool WaitUntilStopped(int timeoutMs);

    void Run(const std::shared_ptr<LinkRun>& run);
    int ConnectLoop(LinkRun& run);
    bool WaitRetryDelay(LinkRun& run, int retryDelaySeconds);
    bool Adopt(LinkRun& run, int fd);
    void ReadLines(LinkRun& run, int fd);
    void Release(LinkRun& run, int fd);
    void Finish(const std::shared_ptr<LinkRun>& run);

    std::mutex stateLock;
    std::condition_variable stateChanged;
    bool running = false;
    bool connected = false;
    std::string host;
    int port = 0;
    int retryDelaySeconds = 0;
    std::shared_ptr<LinkRun> current;

    std::mutex sendLock;
    std::thread thread;  // used by the owner's thread only
};

void HostLink::Impl::Start(const std::string& host_, int port_, int retryDelaySeconds_) {
    std::shared_ptr<LinkRun> run;
    {
        std::lock_guard lock(stateLock);
        if (running) return;
        running = true;
        host = host_;
        port = port_;
        retryDelaySeconds = retryDelaySeconds_;
        current = run = std::make_shared<LinkRun>();
    }
    if (thread.joinable()) thread.join();  // the previous run has already finished
    try {
        thread = std::thread([this, run] { Run(run); });
    } catch (const std::system_error&) {
        Finish(run);
    }
}

void HostLink::Impl::Stop() {
    std::lock_guard lock(stateLock);
    if (!running || !current) return;
    current->stopped = true;
    if (current->fd >= 0) ::shutdown(current->fd, SHUT_RDWR);
    current.reset();
    connected = false;
    stateChanged.notify_all();
}

bool HostLink::Impl::Send(const std::string& text) {
    std::lock_guard sending(sendLock);
    int fd = -1;
    {
        std::lock_guard lock(stateLock);
        if (!current || current->stopped || current->fd < 0) return false;
        fd = current->fd;
    }
    const std::string line = text + "\r\n";
    return SendAll(fd, line.data(), line.size());
}

std::size_t HostLink::Impl::SendLines(const std::vector<std::string>& texts) {
    std::string bytes;
    for (const std::string& text : texts) bytes.append(text).append("\r\n");
    std::lock_guard sending(sendLock);
    int fd = -1;
    {
        std::lock_guard lock(stateLock);
        if (!current || current->stopped || current->fd < 0) return 0;
        fd = current->fd;
    }
    std::size_t sentBytes = 0;
    if (SendAll(fd, bytes.data(), bytes.size(), &sentBytes)) return texts.size();
    std::size_t whole = 0;
    for (const std::string& text : texts) {
        const std::size_t lineBytes = text.size() + 2;
        if (sentBytes < lineBytes) break;
        sentBytes -= lineBytes;
        ++whole;
    }
    return whole;
}

bool HostLink::Impl::WaitUntilStopped(int timeoutMs) {
    {
        std::unique_lock lock(stateLock);
        if (!stateChanged.wait_for(lock, milliseconds(timeoutMs), [this] { return !running; })) {
            return false;
        }
    }
    if (thread.joinable()) thread.join();
    return true;
}

void HostLink::Impl::Run(const std::shared_ptr<LinkRun>& run) {
    const int fd = ConnectLoop(*run);
    if (fd >= 0) {
        if (Adopt(*run, fd)) {
            ReadLines(*run, fd);
            Release(*run, fd);
        } else {
            CloseSocket(fd);
        }
        PostNotice(HostNotice::Ended);
    }
    Finish(run);
}

// Attempts until one succeeds (its socket) or the run is stopped (-1).
int HostLink::Impl::ConnectLoop(LinkRun& run) {
    for (;;) {
        std::string targetHost;
        int targetPort = 0;
        int delay = 0;
        {
            std::lock_guard lock(stateLock);
            if (run.stopped) return -1;
            targetHost = host;
            targetPort = port;
            delay = retryDelaySeconds;
        }
        PostNotice(HostNotice::Attempt);
        const int fd = ConnectOnce(targetHost, targetPort, run);
        if (fd >= 0) return fd;
        PostNotice(HostNotice::Ended);
        if (!WaitRetryDelay(run, delay)) return -1;
    }
}

// Waits delay x 4 steps of 250 ms (at least one step, so a zero delay cannot flood the window
// with notices); false as soon as the run is stopped.
bool HostLink::Impl::WaitRetryDelay(LinkRun& run, int delaySeconds) {
    const long long steps =
        std::max(1LL, static_cast<long long>(delaySeconds) * (1000 / kWaitStepMs));
    std::unique_lock lock(stateLock);
    for (long long step = 0; step < steps; ++step) {
        if (stateChanged.wait_for(lock, milliseconds(kWaitStepMs),
                                  [&run] { return run.stopped.load(); })) {
            return false;
        }
    }
    return true;
}

// Makes the new socket the link's, unless the run was stopped while it was being connected.
bool HostLink::Impl::Adopt(LinkRun& run, int fd) {
    std::lock_guard lock(stateLock);
    if (run.stopped) return false;
    run.fd = fd;
    connected = true;
    PostNotice(HostNotice::Connected);  // under the lock: no notice 2 can follow a stop
    return true;
}

void HostLink::Impl::ReadLines(LinkRun& run, int fd) {
    HostLineFramer framer(kMaxLineBytes);
    char block[kReceiveBlockBytes];
    std::string line;
    std::size_t droppedBytes = 0;
    for (;;) {
        const ssize_t received = ReceiveSome(fd, block, sizeof block);
        if (received <= 0 || run.stopped) break;
        framer.Append(block, static_cast<std::size_t>(received));
        for (;;) {
            const auto outcome = framer.Next(line, droppedBytes);
            if (outcome == HostLineFramer::Outcome::NeedMore || run.stopped) break;
            if (outcome == HostLineFramer::Outcome::TooLong) {
                LogLineTooLong(droppedBytes);
            } else {
                PostToTarget(WM_HOST_LINE, 0, std::make_unique<TextPayload>(std::move(line)));
                line.clear();
            }
        }
    }
    if (const std::size_t pending = framer.PendingOverlongBytes()) LogLineTooLong(pending);
}

void HostLink::Impl::Release(LinkRun& run, int fd) {
    std::lock_guard sending(sendLock);
    {
        std::lock_guard lock(stateLock);
        run.fd = -1;
        connected = false;
    }
    CloseSocket(fd);
}

void HostLink::Impl::Finish(const std::shared_ptr<LinkRun>& run) {
    std::lock_guard lock(stateLock);
    running = false;
    connected = false;
    if (current == run) current.reset();
    stateChanged.notify_all();
}

HostLink::HostLink() : impl_(std::make_shared<Impl>()) {}

HostLink::~HostLink() {
    impl_->Stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

void HostLink::StartHostLink(const std::string& host, int port, int retryDelaySeconds) {
    impl_->Start(host, port, retryDelaySeconds);
}

void HostLink::StopHostLink() {
    impl_->Stop();
}

bool HostLink::SendHostLine(const std::string& text) {
    return impl_->Send(text);
}

std::size_t HostLink::SendHostLines(const std::vector<std::string>& texts) {
    return impl_->SendLines(texts);
}

bool HostLink::IsHostLinkConnected() const {
    std::lock_guard lock(impl_->stateLock);
    return impl_->connected;
}

bool HostLink::IsRunning() const {
    std::lock_guard lock(impl_->stateLock);
    return impl_->running;
}

bool HostLink::WaitUntilStopped(int timeoutMs) {
    return impl_->WaitUntilStopped(timeoutMs);
}

}  // namespace torvane
