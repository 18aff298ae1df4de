#include "net/SourceConnection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/Texts.h"

namespace torvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr std::size_t kReceiveBlockBytes = 64 * 1024;
// A source whose replies pile up past this is disconnected: its passings were not
// acknowledged, so it sends them again.
constexpr std::size_t kMaxQueuedReplyBytes = 1024 * 1024;
// While replies wait, the connection looks at their progress this often.
constexpr int kReplyPollMs = 1000;
// What a message costs in memory beyond its text.
constexpr std::size_t kMessageOverheadBytes = 128;

// Keepalive: the first probe after 60 s of silence, then one every 10 s; six unanswered probes
// end the connection, 2 minutes after the source fell silent.
constexpr int kKeepIdleSeconds = 60;
constexpr int kKeepIntervalSeconds = 10;
constexpr int kKeepProbes = 6;

// The passings a message may carry: its fields but the source, the command and the token.
std::size_t PassingCount(const std::string& text) {
    const auto fields = static_cast<std::size_t>(std::count(text.begin(), text.end(), '@'));
    return fields > 3 ? fields - 3 : 0;
}

int MillisecondsUntil(steady_clock::time_point deadline, steady_clock::time_point now) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 24LL * 3600 * 1000));
}

}  // namespace

void KeepSourceAlive(int fd) {
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleSeconds, sizeof kKeepIdleSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalSeconds,
                 sizeof kKeepIntervalSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepProbes, sizeof kKeepProbes);
}

ConnectionServer::ConnectionServer(SourceConnection& connection, PostFunction post,
                                   ConnectionLimits limits)
    : connection_(connection),
      post_(std::move(post)),
      limits_(limits),
      connectedAt_(steady_clock::now()),
      lastReplyProgress_(connectedAt_) {}

void ConnectionServer::Run() {
    while (WaitAndServe(RepliesWaiting()) == Step::Go) {
    }
}

bool ConnectionServer::RepliesWaiting() {
    std::lock_guard lock(connection_.repliesLock);
    return connection_.replies.size() > connection_.repliesOffset;
}

int ConnectionServer::PollTimeoutMs(bool replying, steady_clock::time_point now) const {
    int timeout = replying ? kReplyPollMs : -1;
    if (!anyMessage_) {
        const int untilSilenceEnds = MillisecondsUntil(connectedAt_ + limits_.firstMessage, now);
        timeout = timeout < 0 ? untilSilenceEnds : std::min(timeout, untilSilenceEnds);
    }
    return timeout;
}

// One wait on the socket and the wake-up, then what it brought.
ConnectionServer::Step ConnectionServer::WaitAndServe(bool replying) {
    SourceBudget& budget = *connection_.budget;
    const bool reading = !budget.ShouldPause();
    const short events = static_cast<short>((reading ? POLLIN : 0) | (replying ? POLLOUT : 0));
    // A paused connection with nothing to write waits on its wake-up alone: a peer that has
    // hung up would otherwise wake the poll again and again.
    pollfd watched[2] = {{events ? connection_.fd : -1, events, 0}, {budget.WakeFd(), POLLIN, 0}};
    if (::poll(watched, 2, PollTimeoutMs(replying, steady_clock::now())) < 0 && errno != EINTR)
        return Step::End;
    if (watched[1].revents & POLLIN) budget.ClearWake();
    if (connection_.shutDown) return Step::End;
    const short ready = watched[0].revents;
    if (reading && (ready & (POLLIN | POLLHUP | POLLERR)) && !ReadAvailable()) return Step::End;
    bool progressed = false;
    if ((ready & (POLLOUT | POLLERR)) && !WriteReplies(progressed)) return Step::End;
    return LimitPassed(replying, progressed, steady_clock::now()) ? Step::End : Step::Go;
}

bool ConnectionServer::LimitPassed(bool replying, bool progressed, steady_clock::time_point now) {
    if (!anyMessage_ && now - connectedAt_ >= limits_.firstMessage) {
        Log(0, Format(Tr("$$$ The MyLaps source %s has sent no message in %lld s since it "
                         "connected: disconnected",
                         "$$$ La source MyLaps %s n'a envoyé aucun message dans les %lld s qui "
                         "ont suivi sa connexion : déconnectée"),
                      connection_.peer.c_str(),
                      static_cast<long long>(limits_.firstMessage.count() / 1000)));
        return true;
    }
    if (!replying || progressed) {
        lastReplyProgress_ = now;
        return false;
    }
    if (now - lastReplyProgress_ < limits_.replyStall) return false;
    Log(0, Format(Tr("$$$ The MyLaps source %s has taken none of its acknowledgements for "
                     "%lld s: disconnected",
                     "$$$ La source MyLaps %s n'a pris aucun de ses acquittements depuis "
                     "%lld s : déconnectée"),
                  connection_.peer.c_str(),
                  static_cast<long long>(limits_.replyStall.count() / 1000)));
    return true;
}

// Takes one block from the socket; false when the stream must end.
bool ConnectionServer::ReadAvailable() {
    char block[kReceiveBlockBytes];
    ssize_t received;
    do {
        received = ::recv(connection_.fd, block, sizeof block, MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received == 0) return false;
    if (received < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (connection_.shutDown) return false;
    framer_.Append(block, static_cast<std::size_t>(received));
    return PostCompleteMessages(clock::NowMs());
}

// Posts every complete message; false when the stream must end (empty or over-long message).
bool ConnectionServer::PostCompleteMessages(std::int64_t receivedMs) {
    std::string text;
    for (;;) {
        switch (framer_.Next(text)) {
            case MessageFramer::Outcome::Message: {
                auto message =
                    std::make_unique<MyLapsMessage>(connection_.id, std::move(text), receivedMs);
                message->budget = connection_.budget;
                message->budgetBytes = message->text.size() + kMessageOverheadBytes;
                message->budgetPassings = PassingCount(message->text);
                connection_.budget->Take(message->budgetBytes, message->budgetPassings);
                post_(WM_MYLAPS_MESSAGE, 0, std::move(message));
                anyMessage_ = true;
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
bool ConnectionServer::WriteReplies(bool& progressed) {
    std::lock_guard lock(connection_.repliesLock);
    std::string& replies = connection_.replies;
    while (replies.size() > connection_.repliesOffset) {
        const ssize_t sent =
            ::send(connection_.fd, replies.data() + connection_.repliesOffset,
                   replies.size() - connection_.repliesOffset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        connection_.repliesOffset += static_cast<std::size_t>(sent);
        progressed = progressed || sent > 0;
    }
    replies.clear();
    connection_.repliesOffset = 0;
    return true;
}

bool QueueSourceReply(SourceConnection& connection, const std::string& wireText) {
    std::size_t queued = 0;
    {
        std::lock_guard replies(connection.repliesLock);
        connection.replies.append(wireText);
        queued = connection.replies.size() - connection.repliesOffset;
    }
    if (queued > kMaxQueuedReplyBytes) {
        Log(0, Format(Tr("$$$ The MyLaps source %s leaves more than %zu bytes of "
                         "acknowledgements unread: disconnected",
                         "$$$ La source MyLaps %s laisse plus de %zu octets d'acquittements "
                         "sans les lire : déconnectée"),
                      connection.peer.c_str(), kMaxQueuedReplyBytes));
        return false;
    }
    connection.budget->Wake();
    return true;
}

}  // namespace torvane
