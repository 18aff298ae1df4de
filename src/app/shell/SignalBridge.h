#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace torvane {

// Turns the process signals into calls on the user-interface thread: SIGTERM, SIGINT and
// SIGHUP ask the program to exit without a question, SIGUSR1 brings the activity window
// forward. The handler only writes the signal number into a pipe.
class SignalBridge : public QObject {
public:
    SignalBridge(std::function<void()> onExitRequest, std::function<void()> onPopFront);
    ~SignalBridge() override;

private:
    void OnSignalReadable();

    std::function<void()> onExitRequest_;
    std::function<void()> onPopFront_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace torvane
