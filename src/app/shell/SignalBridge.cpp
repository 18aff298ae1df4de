#include "app/shell/SignalBridge.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace torvane {
namespace {

int signalPipe[2] = {-1, -1};

// The interrupted code may be about to read errno: the handler's write leaves it as it was.
void WriteSignalToPipe(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void Catch(int signalNumber) {
    struct sigaction action {};
    action.sa_handler = WriteSignalToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace

SignalBridge::SignalBridge(std::function<void()> onExitRequest, std::function<void()> onPopFront)
    : onExitRequest_(std::move(onExitRequest)), onPopFront_(std::move(onPopFront)) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { OnSignalReadable(); });
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) Catch(signalNumber);
}

SignalBridge::~SignalBridge() {
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) ::signal(signalNumber, SIG_DFL);
}

void SignalBridge::OnSignalReadable() {
    unsigned char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1) {
        if (byte == SIGUSR1) {
            if (onPopFront_) onPopFront_();
        } else if (onExitRequest_) {
            onExitRequest_();
        }
    }
}

}  // namespace torvane
