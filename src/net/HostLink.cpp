#include "net/HostLink.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/Logging.h"
#include "base/PostedMessage.h"
#include "base/Texts.h"
#include "net/HostAnswerReader.h"
#include "net/HostConnector.h"
#include "net/HostDelivery.h"
#include "net/HostSendQueue.h"
#include "net/SocketIo.h"

namespace torvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// While bytes wait for the host's acknowledgement, the link looks at them this often.
constexpr int kDeliveryPollMs = 20;
constexpr int kIdlePollMs = 1000;
constexpr std::size_t kDiscardBlockBytes = 4096;

void PostNotice(HostNotice notice, std::uint64_t run) {
    PostToTarget(WM_HOST_LINK_STATE, static_cast<std::intptr_t>(notice),
                 std::make_unique<RunPayload>(run));
}

// A reset instead of the end of the stream: the kernel drops what it still holds for the host.
void CloseAbortively(int socket) {
    const linger abort{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    CloseSocket(socket);
}

void DrainWake(int fd) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = ::read(fd, &count, sizeof count);
}

}  // namespace

// The worker thread alone creates and closes sockets. `wakeFd` wakes its poll when lines are
// queued or the run is stopped.
struct HostLink::Impl {
    Impl();
    ~Impl();

    void EnsureWorker();
    void Wake();
    void WorkerLoop();
    void RunLink(std::uint64_t run);
    LinkEnd Serve(std::uint64_t run, int socket, bool& givenUp);
    bool Account(int socket, bool finQueued);
    void CloseGracefully(int socket);

    HostConnector connector;
    HostSendQueue queue;
    const std::shared_ptr<HostAnswerBudget> answers = std::make_shared<HostAnswerBudget>();
    int wakeFd = -1;
    std::mutex workerLock;
    std::thread worker;
};

HostLink::Impl::Impl() : wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

HostLink::Impl::~Impl() {
    connector.Shutdown();
    Wake();
    if (worker.joinable()) worker.join();
    if (wakeFd >= 0) ::close(wakeFd);
}

void HostLink::Impl::EnsureWorker() {
    std::lock_guard guard(workerLock);
    if (worker.joinable()) return;
    try {
        worker = std::thread([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
        connector.Stop();
    }
}

void HostLink::Impl::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
}

void HostLink::Impl::WorkerLoop() {
    for (;;) {
        const std::uint64_t run = connector.WaitForRun();
        if (run == 0) return;
        RunLink(run);
        connector.Finish(run);
    }
}

// What the host's TCP took before the end counts as delivered; then the socket is closed, and
// only then is the end announced.
void HostLink::Impl::RunLink(std::uint64_t run) {
    const int socket = connector.Connect(run);
    if (socket < 0) return;
    // Under the connector's lock: no notice 2 can follow a stop.
    if (!connector.AdoptIfCurrent(run, [&] {
            queue.Open(run);
            PostNotice(HostNotice::Connected, run);
        })) {
        CloseSocket(socket);
        return;
    }
    bool givenUp = false;
    const LinkEnd end = Serve(run, socket, givenUp);
    Account(socket, false);
    if (end != LinkEnd::Open) {
        CloseSocket(socket);
    } else if (givenUp || queue.Waiting()) {
        CloseAbortively(socket);
    } else {
        CloseGracefully(socket);
    }
    queue.Close();
    if (end == LinkEnd::Reset) PostToTarget(WM_HOST_RESET, 0, std::make_unique<RunPayload>(run));
    PostNotice(HostNotice::Ended, run);
}

// Reads and writes until the link ends: the host ends it (its LinkEnd), or Torvane does
// (LinkEnd::Open): a stop, or a host that has taken nothing of what waits for it for the stall
// limit (`givenUp`).
LinkEnd HostLink::Impl::Serve(std::uint64_t run, int socket, bool& givenUp) {
    HostAnswerReader reader(answers);
    StallRule stall(steady_clock::now());
    for (;;) {
        if (!connector.IsCurrent(run)) return LinkEnd::Open;
        const bool toWrite = queue.Unwritten() > 0;
        const bool waiting = queue.Waiting();
        // Answers are read only as fast as the window thread handles them.
        const bool reading = !answers->ShouldPause();
        pollfd watched[3] = {
            {socket, static_cast<short>((reading ? POLLIN : 0) | (toWrite ? POLLOUT : 0)), 0},
            {wakeFd, POLLIN, 0},
            {answers->WakeFd(), POLLIN, 0}};
        if (::poll(watched, 3, waiting ? kDeliveryPollMs : kIdlePollMs) < 0 && errno != EINTR) {
            return LinkEnd::Failed;
        }
        if (watched[1].revents & POLLIN) DrainWake(wakeFd);
        if (watched[2].revents & POLLIN) answers->ClearWake();
        const short events = watched[0].revents;
        const bool ending = (events & (POLLERR | POLLHUP)) != 0;
        if (ending || (events & POLLIN)) {
            const LinkEnd end = reader.Read(socket, ending);
            if (end != LinkEnd::Open) return end;
        }
        if (events & POLLOUT) {
            const LinkEnd end = queue.WriteTo(socket);
            if (end != LinkEnd::Open) return end;
        }
        const bool progressed = Account(socket, false);
        const milliseconds limit = queue.StallLimit();
        if (stall.Lost(progressed, waiting, limit, steady_clock::now())) {
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
            Log(0, Format(Tr("$$$ Ostrak Pro has taken nothing for %lld s: link closed",
                             "$$$ Ostrak Pro ne prend plus rien depuis %lld s : liaison fermée"),
                          static_cast<long long>(seconds)));
            givenUp = true;
            return LinkEnd::Open;
        }
    }
}

// Posts the highest tracked line whose bytes are newly acknowledged; true on any progress.
bool HostLink::Impl::Account(int socket, bool finQueued) {
    const std::uint64_t before = queue.Acknowledged();
    const std::uint64_t now =
        AcknowledgedBytes(queue.Written(), UnacknowledgedBytes(socket, finQueued), before);
    if (now <= before) return false;
    if (const std::int64_t delivered = queue.Acknowledge(now)) {
        PostToTarget(WM_HOST_DELIVERED, static_cast<std::intptr_t>(delivered));
    }
    return true;
}

// Ends our side first and lets the host see the end after every byte it was sent: a socket
// closed with answers still unread would be reset, and a reset makes the host's system drop
// what it had received but its program not yet read.
void HostLink::Impl::CloseGracefully(int socket) {
    ::shutdown(socket, SHUT_WR);
    const auto deadline = steady_clock::now() + kGracefulCloseLimit;
    char discarded[kDiscardBlockBytes];
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0) break;
        pollfd watched{socket, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t received = ::recv(socket, discarded, sizeof discarded, MSG_DONTWAIT);
        if (received == 0 || (received < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    Account(socket, true);
    CloseSocket(socket);
}

HostLink::HostLink() : impl_(std::make_unique<Impl>()) {}

HostLink::~HostLink() = default;

void HostLink::StartHostLink(const std::string& host, int port, int retryDelaySeconds) {
    if (impl_->connector.Start(host, port, retryDelaySeconds)) impl_->EnsureWorker();
    impl_->Wake();
}

void HostLink::StopHostLink() {
    if (impl_->connector.Stop()) impl_->Wake();
}

std::int64_t HostLink::DrainAndStop(std::chrono::milliseconds limit) {
    const auto deadline = steady_clock::now() + limit;
    const std::uint64_t run = impl_->queue.StopTakingLines();
    if (run == 0) {
        StopHostLink();
        return 0;
    }
    impl_->Wake();
    impl_->queue.WaitUntilThrough(run, deadline);
    // The worker ends the link in order when nothing waits any more, with a reset otherwise.
    StopHostLink();
    impl_->connector.WaitUntilStopped(kGracefulCloseLimit + milliseconds(1000));
    return impl_->queue.DeliveredBy(run);
}

void HostLink::UpdateTarget(const std::string& host, int port) {
    impl_->connector.UpdateTarget(host, port);
}

bool HostLink::SendHostLine(const std::string& text) {
    return QueueLines(impl_->queue.OpenRun(), {OutgoingLine{0, text}});
}

bool HostLink::QueueLines(std::uint64_t run, const std::vector<OutgoingLine>& lines) {
    if (!impl_->connector.IsCurrent(run) || !impl_->queue.Queue(run, lines)) return false;
    impl_->Wake();
    return true;
}

bool HostLink::IsHostLinkConnected() const {
    return impl_->connector.IsCurrent(impl_->queue.OpenRun());
}

std::uint64_t HostLink::ConnectedRun() const {
    return impl_->queue.OpenRun();
}

bool HostLink::IsRunning() const {
    return impl_->connector.IsRunning();
}

std::size_t HostLink::UnwrittenBytes() const {
    return impl_->queue.Unwritten();
}

std::int64_t HostLink::UnhandledAnswerBytes() const {
    return impl_->answers->Bytes();
}

bool HostLink::WaitUntilStopped(int timeoutMs) {
    return impl_->connector.WaitUntilStopped(milliseconds(timeoutMs));
}

void HostLink::SetStallLimitForTesting(std::chrono::milliseconds limit) {
    impl_->queue.SetStallLimit(limit);
}

}  // namespace torvane
