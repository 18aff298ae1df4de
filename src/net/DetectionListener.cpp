#include "net/DetectionListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/PostedMessage.h"
#include "base/Texts.h"
#include "net/MessageFramer.h"
#include "net/SocketIo.h"

namespace torvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr std::size_t kReceiveBlockBytes = 64 * 1024;
constexpr auto kPauseAfterAcceptFailure = milliseconds(50);
// While replies wait, the connection looks at their progress this often.
constexpr int kReplyPollMs = 1000;

std::atomic<ConnectionId> nextConnectionId{1};

// One accepted source. Its thread owns the descriptor and closes it only after taking the
// connection out of the list, so that nothing done under the list lock ever reaches a
// descriptor number the system has handed out again.
struct SourceConnection {
    SourceConnection(ConnectionId id_, int fd_, std::string peer_)
        : id(id_), fd(fd_), peer(std::move(peer_)), budget(std::make_shared<SourceBudget>()) {}
    const ConnectionId id;
    const int fd;
    const std::string peer;
    const std::shared_ptr<SourceBudget> budget;  // its descriptor wakes the thread
    std::atomic<bool> shutDown{false};           // set under the list lock

    std::mutex repliesLock;  // guards the replies
    std::string replies;
    std::size_t repliesOffset = 0;
};

struct ConnectionWorker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
};

bool IsTransientAcceptError(int error) {
    return error == EINTR || error == ECONNABORTED;
}

// The passings a message may carry: its fields but the source, the command and the token.
std::size_t PassingCount(const std::string& text) {
    const auto fields = static_cast<std::size_t>(std::count(text.begin(), text.end(), '@'));
    return fields > 3 ? fields - 3 : 0;
}

// What a message costs in memory beyond its text.
constexpr std::size_t kMessageOverheadBytes = 128;

}  // namespace

// Locking: listMutex guards the connection list, every shutdown of a listed descriptor and the
// queuing of replies; workersMutex guards the thread list; postMutex orders every posting against
// the start of destruction. A connection's repliesLock is taken inside listMutex or alone; no
// other lock is taken while one of them is held.
struct DetectionListener::Impl {
    explicit Impl(std::function<void(const std::string&)> showError_)
        : showError(std::move(showError_)) {}

    int Start(int port, ListenerStartFailure& failure);
    void Stop();
    void AcceptLoop();
    bool Admit(std::uint32_t peer);
    void StartConnection(int fd, std::uint32_t peer);
    void ServeConnection(const std::shared_ptr<SourceConnection>& connection);
    bool ReadAvailable(SourceConnection& connection, MessageFramer& framer);
    bool PostCompleteMessages(MessageFramer& framer, SourceConnection& connection,
                              std::int64_t receivedMs);
    bool WriteReplies(SourceConnection& connection, bool& progressed);
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
    int listenFd = -1;
    std::atomic<int> port{0};
    std::atomic<bool> listening{false};
    std::atomic<bool> stopping{false};
    std::atomic<long long> replyStallMs{kReplyStallLimit.count()};
    std::thread acceptThread;

    mutable std::mutex listMutex;
    std::vector<std::shared_ptr<SourceConnection>> connections;

    std::mutex workersMutex;
    std::list<ConnectionWorker> workers;

    std::mutex postMutex;
};

int DetectionListener::Impl::Start(int requestedPort, ListenerStartFailure& failure) {
    if (listening) return -1;
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
    listenFd = fd;
    try {
        acceptThread = std::thread(&Impl::AcceptLoop, this);
    } catch (const std::system_error& error) {
        failure = {Step::Thread, error.code().value()};
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
            if (Admit(address)) {
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

// Whether a peer may be served now; the operator is told why one is not.
bool DetectionListener::Impl::Admit(std::uint32_t peer) {
    const std::string address = AddressText(peer);
    if (options.restrictPeers && !IsAllowed(options.allowFrom, peer)) {
        Log(0, Format(Tr("$$$ MyLaps connection from %s refused: not an allowed address "
                         "([MyLaps] AllowFrom)",
                         "$$$ Connexion MyLaps de %s refusée : adresse non autorisée "
                         "([MyLaps] AllowFrom)"),
                      address.c_str()));
        return false;
    }
    if (OpenConnectionCount() >= options.maxSources) {
        Log(0, Format(Tr("$$$ MyLaps connection from %s refused: %d sources are connected "
                         "already ([MyLaps] MaxSources)",
                         "$$$ Connexion MyLaps de %s refusée : %d sources sont déjà connectées "
                         "([MyLaps] MaxSources)"),
                      address.c_str(), options.maxSources));
        return false;
    }
    return true;
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

// Reads while the source's work stays under its budget, writes its replies as the socket takes
// them, and ends with the stream, a close-all, an empty or over-long message, or a source that
// has taken none of its replies for the stall limit.
void DetectionListener::Impl::ServeConnection(const std::shared_ptr<SourceConnection>& connection) {
    Post(WM_MYLAPS_CONNECTION, 1,
         std::make_unique<ConnectionPayload>(connection->id, connection->peer));
    MessageFramer framer(kMaxMessageBytes);
    SourceBudget& budget = *connection->budget;
    auto lastReplyProgress = steady_clock::now();
    for (;;) {
        bool replying = false;
        {
            std::lock_guard lock(connection->repliesLock);
            replying = connection->replies.size() > connection->repliesOffset;
        }
        const bool reading = !budget.ShouldPause();
        const short events = static_cast<short>((reading ? POLLIN : 0) | (replying ? POLLOUT : 0));
        // A paused connection with nothing to write waits on its wake-up alone: a peer that has
        // hung up would otherwise wake the poll again and again.
        pollfd watched[2] = {{events ? connection->fd : -1, events, 0},
                             {budget.WakeFd(), POLLIN, 0}};
        if (::poll(watched, 2, replying ? kReplyPollMs : -1) < 0 && errno != EINTR) break;
        if (watched[1].revents & POLLIN) budget.ClearWake();
        if (connection->shutDown) break;
        const short ready = watched[0].revents;
        if (reading && (ready & (POLLIN | POLLHUP | POLLERR)) &&
            !ReadAvailable(*connection, framer)) {
            break;
        }
        bool progressed = false;
        if ((ready & (POLLOUT | POLLERR)) && !WriteReplies(*connection, progressed)) break;

        const auto now = steady_clock::now();
        if (!replying || progressed) {
            lastReplyProgress = now;
        } else if (now - lastReplyProgress >= milliseconds(replyStallMs.load())) {
            Log(0, Format(Tr("$$$ The MyLaps source %s has taken none of its acknowledgements for "
                             "%lld s: disconnected",
                             "$$$ La source MyLaps %s n'a pris aucun de ses acquittements depuis "
                             "%lld s : déconnectée"),
                          connection->peer.c_str(), replyStallMs.load() / 1000));
            break;
        }
    }
    RemoveConnection(connection);
    CloseSocket(connection->fd);
    Post(WM_MYLAPS_CONNECTION, 0,
         std::make_unique<ConnectionPayload>(connection->id, connection->peer));
}

// Takes one block from the socket; false when the stream must end.
bool DetectionListener::Impl::ReadAvailable(SourceConnection& connection, MessageFramer& framer) {
    char block[kReceiveBlockBytes];
    ssize_t received;
    do {
        received = ::recv(connection.fd, block, sizeof block, MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received == 0) return false;
    if (received < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (connection.shutDown) return false;
    framer.Append(block, static_cast<std::size_t>(received));
    return PostCompleteMessages(framer, connection, clock::NowMs());
}

// Posts every complete message; false when the stream must end (empty or over-long message).
bool DetectionListener::Impl::PostCompleteMessages(MessageFramer& framer,
                                                   SourceConnection& connection,
                                                   std::int64_t receivedMs) {
    std::string text;
    for (;;) {
        switch (framer.Next(text)) {
            case MessageFramer::Outcome::Message: {
                auto message =
                    std::make_unique<MyLapsMessage>(connection.id, std::move(text), receivedMs);
                message->budget = connection.budget;
                message->budgetBytes = message->text.size() + kMessageOverheadBytes;
                message->budgetPassings = PassingCount(message->text);
                connection.budget->Take(message->budgetBytes, message->budgetPassings);
                Post(WM_MYLAPS_MESSAGE, 0, std::move(message));
                text.clear();
                break;
            }
            case MessageFramer::Outcome::NeedMore:
                return true;
            case MessageFramer::Outcome::EmptyMessage:
            case MessageFramer::Outcome::TooLong:
                return false;
        }
    }
}

// Writes what the socket takes of the replies now; false when the connection has failed.
bool DetectionListener::Impl::WriteReplies(SourceConnection& connection, bool& progressed) {
    std::lock_guard lock(connection.repliesLock);
    std::string& replies = connection.replies;
    while (replies.size() > connection.repliesOffset) {
        const ssize_t sent =
            ::send(connection.fd, replies.data() + connection.repliesOffset,
                   replies.size() - connection.repliesOffset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        connection.repliesOffset += static_cast<std::size_t>(sent);
        progressed = progressed || sent > 0;
    }
    replies.clear();
    connection.repliesOffset = 0;
    return true;
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
        std::size_t queued = 0;
        {
            std::lock_guard replies(connection->repliesLock);
            connection->replies.append(wireText);
            queued = connection->replies.size() - connection->repliesOffset;
        }
        if (queued > kMaxQueuedReplyBytes) {
            Log(0, Format(Tr("$$$ The MyLaps source %s leaves more than %zu bytes of "
                             "acknowledgements unread: disconnected",
                             "$$$ La source MyLaps %s laisse plus de %zu octets d'acquittements "
                             "sans les lire : déconnectée"),
                          connection->peer.c_str(), kMaxQueuedReplyBytes));
            ShutDown(*connection);
            return;
        }
        connection->budget->Wake();
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

}  // namespace torvane
