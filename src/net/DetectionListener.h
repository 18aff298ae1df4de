#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/AddressRange.h"
#include "net/MyLapsMessage.h"
#include "net/SourceConnection.h"

namespace torvane {

// Why the listener did not start: the step that failed and the system's error number.
struct ListenerStartFailure {
    enum class Step { None, Socket, Bind, Listen, Thread };
    Step step = Step::None;
    int error = 0;
};

// Where the listener listens, and who may connect.
struct ListenerOptions {
    std::string address;         // the local IPv4 address to bind; empty: every interface
    bool restrictPeers = false;  // only peers in `allowFrom` are served
    std::vector<AddressRange> allowFrom;
    int maxSources = 64;  // connections served at once; more are closed at once
};

// The TCP server MyLaps sources connect to: an accept thread that admits peers (SourceAdmission)
// and one thread per source (ConnectionServer), each byte stream cut into "$"-ended messages
// posted to the user-interface thread (WM_MYLAPS_CONNECTION, WM_MYLAPS_MESSAGE). Replies wait in
// a queue of their connection, which its thread writes without ever blocking the thread that
// queued them. A source is read only while the work it has handed over stays under its budget,
// so that a flood slows the source down instead of filling memory.
class DetectionListener {
public:
    static constexpr size_t kMaxMessageBytes = ConnectionServer::kMaxMessageBytes;
    // A source that takes none of its replies for this long is disconnected: its passings were
    // not acknowledged, so it sends them again.
    static constexpr std::chrono::milliseconds kReplyStallLimit{60000};
    // A connection that sends no message at all for this long after connecting is closed, so
    // that silent peers cannot hold every place of MaxSources.
    static constexpr std::chrono::milliseconds kFirstMessageLimit{30000};

    // showError shows one of the three start-up message boxes (texts exist in one form only).
    explicit DetectionListener(std::function<void(const std::string&)> showError);
    // Stops listening, closes every connection and waits for the threads (the running
    // program never stops its listener; tests and the benchmark do).
    ~DetectionListener();

    // The options of the next start.
    void SetOptions(ListenerOptions options);
    // Listens (by default on every local IPv4 address); port 0 lets the system pick. 0 on
    // success, -1 on failure, whose cause goes to *failure when given.
    int StartDetectionListener(int port, ListenerStartFailure* failure = nullptr);
    bool IsListening() const;
    int ListeningPort() const;

    // Queues message.reply + "$" for the message's connection if it is still open. Nothing when
    // not listening or the reply is empty.
    void SendMyLapsReply(const MyLapsMessage& message);

    // Closes every open source connection; returns how many.
    int CloseAllSourceConnections();

    int OpenConnectionCount() const;

    void SetReplyStallLimitForTesting(std::chrono::milliseconds limit);
    void SetFirstMessageLimitForTesting(std::chrono::milliseconds limit);

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace torvane
