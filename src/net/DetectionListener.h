#pragma once

#include <functional>
#include <memory>
#include <string>

#include "net/MyLapsMessage.h"

namespace torvane {

// Why the listener did not start: the step that failed and the system's error number.
struct ListenerStartFailure {
    enum class Step { None, Socket, Bind, Listen, Thread };
    Step step = Step::None;
    int error = 0;
};

// The TCP server MyLaps sources connect to: one thread per source, each byte stream cut into
// "$"-ended messages posted to the user-interface thread (WM_MYLAPS_CONNECTION, WM_MYLAPS_MESSAGE).
class DetectionListener {
public:
    static constexpr size_t kMaxMessageBytes = 1024 * 1024;

    // showError shows one of the three start-up message boxes (texts exist in one form only).
    explicit DetectionListener(std::function<void(const std::string&)> showError);
    // Stops listening, closes every connection and waits for the threads (the running
    // program never stops its listener; tests and the benchmark do).
    ~DetectionListener();

    // Listens on every local IPv4 address; port 0 lets the system pick. 0 on success, -1 on
    // failure, whose cause goes to *failure when given.
    int StartDetectionListener(int port, ListenerStartFailure* failure = nullptr);
    bool IsListening() const;
    int ListeningPort() const;

    // Sends message.reply + "$" on the message's connection if it is still open (whole reply,
    // short sends completed). Nothing when not listening or the reply is empty.
    void SendMyLapsReply(const MyLapsMessage& message);

    // Closes every open source connection; returns how many.
    int CloseAllSourceConnections();

    int OpenConnectionCount() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace torvane
