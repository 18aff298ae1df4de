#include "net/DetectionListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <list>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "base/PostedMessage.h"
#include "base/Texts.h"
#include "net/SocketIo.h"
#include "net/SourceAdmission.h"

namespace torvane {
namespace {

using std::chrono::milliseconds;

constexpr auto kPauseAfterAcceptFailure = milliseconds(50);

std::atomic<ConnectionId> nextConnectionId{1};

struct ConnectionWorker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
};

bool IsTransientAcceptError(int error) {
    return error == EINTR || error == ECONNABORTED;
}

}  // namespace

// Locking: listMutex guards the connection list, every shutdown of a listed descriptor and the
// queuing of replies; workersMutex guards the thread list; postMutex orders every posting against
// the start of destruction. A connection's repliesLock is taken inside listMutex or alone; no
// other lock is taken while one of them is held.
struct DetectionListener::Impl {
    explicit Impl(std::function<void(const std::string&)> showError_)
        : showError(std::move(showError_)) {}

    int Start(int port, ListenerStartFailure& failure);
    int Bind(int requestedPort, ListenerStartFailure& failure);
    void Stop();
    void AcceptLoop();
    void StartConnection(int fd, std::uint32_t peer);
    void ServeConnection(const std::shared_ptr<SourceConnection>& connection);
    void RemoveConnection(const std::shared_ptr<SourceConnection>& connection);
    void ReapFinishedWorkers();
    int ShutDownAllConnections();
    void ShutDown(SourceConnection& connection);
    void QueueReply(ConnectionId id, const std::string& wireText);
    int OpenConnectionCount() const;
    void Post(int id, std::intptr_t wParam, std::unique_ptr<PostedPayload> payload = nullptr);
    void ShowError(const std::string& text) const {
        if (showError) showError(text);
    }

    std::function<void(const std::string&)> showError;
    ListenerOptions options;
    std::optional<SourceAdmission> admission;  // the accept thread's, from the options
    int listenFd = -1;
    std::atomic<int> port{0};
    std::atomic<bool> listening{false};
    std::atomic<bool> stopping{false};
    std::atomic<long long> replyStallMs{kReplyStallLimit.count()};
    std::atomic<long long> firstMessageMs{kFirstMessageLimit.count()};
    std::thread acceptThread;

    mutable std::mutex listMutex;
    std::vector<std::shared_ptr<SourceConnection>> connections;

    std::mutex workersMutex;
    std::list<ConnectionWorker> workers;

    std::mutex postMutex;
};

// The listening socket, bound and listening; -1 (with the box shown) on failure.
int DetectionListener::Impl::Bind(int requestedPort, ListenerStartFailure& failure) {
    using Step = ListenerStartFailure::Step;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        const int error = errno;
        failure = {Step::Socket, error};
        ShowError(Format("Error calling socket() for detection server.\nErr code is %d (0x%X)",
                         error, static_cast<unsigned>(error)));
        return -1;
    }
    // Lets a restarted program listen again while connections it closed linger in TIME_WAIT;
    // binding still fails while another socket listens on the port.
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(requestedPort));
    const bool portInRange = requestedPort >= 0 && requestedPort <= 65535;
    const bool addressRead = options.address.empty() ||
                             ::inet_pton(AF_INET, options.address.c_str(), &address.sin_addr) == 1;
    if (!portInRange || !addressRead ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        failure = {Step::Bind, portInRange && addressRead ? errno : EINVAL};
        ShowError("Error calling bind()");
        CloseSocket(fd);
        return -1;
    }
    if (::listen(fd, 0x7FFFFFFF) != 0) {
        failure = {Step::Listen, errno};
        ShowError("Error calling listen()");
        CloseSocket(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int DetectionListener::Impl::Start(int requestedPort, ListenerStartFailure& failure) {
    if (listening) return -1;
    const int fd = Bind(requestedPort, failure);
    if (fd < 0) return -1;
    listenFd = fd;
    admission.emplace(options.restrictPeers, options.allowFrom, options.maxSources);
    try {
        acceptThread = std::thread(&Impl::AcceptLoop, this);
    } catch (const std::system_error& error) {
        failure = {ListenerStartFailure::Step::Thread, error.code().value()};
        CloseSocket(listenFd);
        listenFd = -1;
        return -1;
    }
    listening = true;
    return 0;
}

// Stops accepting, shuts every connection down and waits for all threads; posts nothing more.
void DetectionListener::Impl::Stop() {
    {
        std::lock_guard lock(postMutex);
        stopping = true;
    }
    if (listenFd >= 0) ::shutdown(listenFd, SHUT_RDWR);
    if (acceptThread.joinable()) acceptThread.join();
    ShutDownAllConnections();
    {
        std::lock_guard lock(workersMutex);
        for (ConnectionWorker& worker : workers) worker.thread.join();
        workers.clear();
    }
    CloseSocket(listenFd);
    listenFd = -1;
    listening = false;
}

void DetectionListener::Impl::AcceptLoop() {
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd =
            ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (stopping) {
            CloseSocket(fd);
            return;
        }
        if (fd >= 0) {
            const std::uint32_t address = ntohl(peer.sin_addr.s_addr);
            if (admission->Admit(address, OpenConnectionCount())) {
                KeepSourceAlive(fd);
                SendWithoutDelay(fd);
                StartConnection(fd, address);
            } else {
                CloseSocket(fd);
            }
        } else if (!IsTransientAcceptError(errno)) {
            // Out of descriptors or memory: give the system a moment instead of spinning.
            std::this_thread::sleep_for(kPauseAfterAcceptFailure);
        }
    }
}

// The connection joins the list before its thread starts, so a close-all or a stop that
// follows the accept always reaches it.
void DetectionListener::Impl::StartConnection(int fd, std::uint32_t peer) {
    auto connection = std::make_shared<SourceConnection>(nextConnectionId++, fd, AddressText(peer));
    {
        std::lock_guard lock(listMutex);
        connections.push_back(connection);
    }
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread thread;
    try {
        thread = std::thread([this, connection, finished] {
            ServeConnection(connection);
            *finished = true;
        });
    } catch (const std::system_error&) {
        RemoveConnection(connection);
        CloseSocket(fd);
        return;
    }
    std::lock_guard lock(workersMutex);
    ReapFinishedWorkers();
    workers.push_back({std::move(thread), std::move(finished)});
}

void DetectionListener::Impl::ReapFinishedWorkers() {
    for (auto it = workers.begin(); it != workers.end();) {
        if (*it->finished) {
            it->thread.join();
            it = workers.erase(it);
        } else {
            ++it;
        }
    }
}

void DetectionListener::Impl::ServeConnection(const std::shared_ptr<SourceConnection>& connection) {
    Post(WM_MYLAPS_CONNECTION, 1,
         std::make_unique<ConnectionPayload>(connection->id, connection->peer));
    ConnectionServer server(
        *connection,
        [this](int id, std::intptr_t wParam, std::unique_ptr<PostedPayload> payload) {
            Post(id, wParam, std::move(payload));
        },
        {milliseconds(replyStallMs.load()), milliseconds(firstMessageMs.load())});
    server.Run();
    RemoveConnection(connection);
    CloseSocket(connection->fd);
    Post(WM_MYLAPS_CONNECTION, 0,
         std::make_unique<ConnectionPayload>(connection->id, connection->peer));
}

void DetectionListener::Impl::RemoveConnection(
    const std::shared_ptr<SourceConnection>& connection) {
    std::lock_guard lock(listMutex);
    std::erase(connections, connection);
}

// Under the list lock.
void DetectionListener::Impl::ShutDown(SourceConnection& connection) {
    if (connection.shutDown.exchange(true)) return;
    ::shutdown(connection.fd, SHUT_RDWR);
    connection.budget->Wake();
}

int DetectionListener::Impl::ShutDownAllConnections() {
    std::lock_guard lock(listMutex);
    int count = 0;
    for (const auto& connection : connections) {
        if (connection->shutDown) continue;
        ShutDown(*connection);
        ++count;
    }
    return count;
}

void DetectionListener::Impl::QueueReply(ConnectionId id, const std::string& wireText) {
    std::lock_guard lock(listMutex);
    for (const auto& connection : connections) {
        if (connection->id != id) continue;
        if (connection->shutDown) return;
        if (!QueueSourceReply(*connection, wireText)) ShutDown(*connection);
        return;
    }
}

int DetectionListener::Impl::OpenConnectionCount() const {
    std::lock_guard lock(listMutex);
    int count = 0;
    for (const auto& connection : connections) count += connection->shutDown ? 0 : 1;
    return count;
}

void DetectionListener::Impl::Post(int id, std::intptr_t wParam,
                                   std::unique_ptr<PostedPayload> payload) {
    std::lock_guard lock(postMutex);
    if (!stopping) PostToTarget(id, wParam, std::move(payload));
}

DetectionListener::DetectionListener(std::function<void(const std::string&)> showError)
    : impl_(std::make_shared<Impl>(std::move(showError))) {}

DetectionListener::~DetectionListener() {
    impl_->Stop();
}

void DetectionListener::SetOptions(ListenerOptions options) {
    if (!impl_->listening) impl_->options = std::move(options);
}

int DetectionListener::StartDetectionListener(int port, ListenerStartFailure* failure) {
    ListenerStartFailure cause;
    const int result = impl_->Start(port, cause);
    if (failure) *failure = cause;
    return result;
}

bool DetectionListener::IsListening() const {
    return impl_->listening;
}

int DetectionListener::ListeningPort() const {
    return impl_->listening ? impl_->port.load() : 0;
}

void DetectionListener::SendMyLapsReply(const MyLapsMessage& message) {
    if (!impl_->listening || message.reply.empty()) return;
    impl_->QueueReply(message.connection, message.reply + "$");
}

int DetectionListener::CloseAllSourceConnections() {
    if (!impl_->listening) return 0;
    return impl_->ShutDownAllConnections();
}

int DetectionListener::OpenConnectionCount() const {
    return impl_->OpenConnectionCount();
}

void DetectionListener::SetReplyStallLimitForTesting(std::chrono::milliseconds limit) {
    impl_->replyStallMs = limit.count();
}

void DetectionListener::SetFirstMessageLimitForTesting(std::chrono::milliseconds limit) {
    impl_->firstMessageMs = limit.count();
}

}  // namespace torvane
