#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "net/MessageFramer.h"
#include "net/MyLapsMessage.h"
#include "net/SourceBudget.h"

namespace torvane {

// One accepted source. Its thread owns the descriptor and closes it only after the listener has
// taken the connection out of its list, so that nothing done under the list lock ever reaches a
// descriptor number the system has handed out again.
struct SourceConnection {
    SourceConnection(ConnectionId id_, int fd_, std::string peer_)
        : id(id_), fd(fd_), peer(std::move(peer_)), budget(std::make_shared<SourceBudget>()) {}
    const ConnectionId id;
    const int fd;
    const std::string peer;
    const std::shared_ptr<SourceBudget> budget;  // its descriptor wakes the thread
    std::atomic<bool> shutDown{false};           // set under the listener's list lock

    std::mutex repliesLock;  // guards the replies
    std::string replies;
    std::size_t repliesOffset = 0;
};

// How long a connection may wait on its source before it is dropped.
struct ConnectionLimits {
    // The source has taken none of its waiting replies for this long.
    std::chrono::milliseconds replyStall;
    // The source has sent no whole message since it connected.
    std::chrono::milliseconds firstMessage;
};

// Sets TCP keepalive on a source's socket, so that a source that lost its power or its network
// is found gone (and its place freed) within about two minutes of silence.
void KeepSourceAlive(int fd);

// The thread of one connection: reads while the source's work stays under its budget, posts
// each "$"-ended message, and writes the replies as the socket takes them. Run returns when the
// connection must end: the stream ended or failed, a close-all, an empty or over-long message,
// no reply taken for the stall limit, or no message at all within the first-message limit.
class ConnectionServer {
public:
    static constexpr std::size_t kMaxMessageBytes = 1024 * 1024;
    using PostFunction = std::function<void(int, std::intptr_t, std::unique_ptr<PostedPayload>)>;

    ConnectionServer(SourceConnection& connection, PostFunction post, ConnectionLimits limits);
    void Run();

private:
    enum class Step { Go, End };
    Step WaitAndServe(bool replying);
    bool ReadAvailable();
    bool PostCompleteMessages(std::int64_t receivedMs);
    bool WriteReplies(bool& progressed);
    bool RepliesWaiting();
    int PollTimeoutMs(bool replying, std::chrono::steady_clock::time_point now) const;
    bool LimitPassed(bool replying, bool progressed, std::chrono::steady_clock::time_point now);

    SourceConnection& connection_;
    PostFunction post_;
    ConnectionLimits limits_;
    MessageFramer framer_{kMaxMessageBytes};
    std::chrono::steady_clock::time_point connectedAt_;
    std::chrono::steady_clock::time_point lastReplyProgress_;
    bool anyMessage_ = false;
};

// Queues a reply's bytes; false when the source leaves more than the bound unread (it is then
// to be shut down; the reason is logged).
bool QueueSourceReply(SourceConnection& connection, const std::string& wireText);

}  // namespace torvane
