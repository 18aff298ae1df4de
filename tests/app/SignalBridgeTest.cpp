#include "app/shell/SignalBridge.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <csignal>

namespace torvane {
namespace {

// The signal handler runs between any two instructions of the interrupted code, which may be
// about to read errno: whatever the handler's own write does, errno comes back as it was.
TEST(SignalBridgeTest, TheHandlerLeavesErrnoAsItFound) {
    long popFronts = 0;
    {
        SignalBridge bridge(nullptr, [&] { ++popFronts; });
        // Signals that nobody reads yet fill the bridge's pipe (64 KiB by default), so the
        // handler's next write fails.
        for (int i = 0; i < 70000; ++i) std::raise(SIGUSR1);
        for (const int before : {EDOM, EINTR, 0}) {
            errno = before;
            std::raise(SIGUSR1);
            EXPECT_EQ(errno, before);
        }
        // The signals that fitted are still delivered on the event loop.
        QElapsedTimer elapsed;
        elapsed.start();
        while (popFronts == 0 && elapsed.elapsed() < 5000) QCoreApplication::processEvents();
    }
    EXPECT_GT(popFronts, 0);
}

}  // namespace
}  // namespace torvane
