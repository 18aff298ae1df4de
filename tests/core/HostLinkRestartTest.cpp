#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "net/HostLink.h"
#include "support/LoopbackSockets.h"
#include "support/PostedMessageRecorder.h"

namespace torvane {
namespace {

using test::AcceptWithin;
using test::ListenOnLoopback;
using test::LocalPort;
using test::PostedMessageRecorder;
using test::ReceiveAtLeast;
using test::SocketFd;

using Notices = std::vector<std::intptr_t>;
constexpr std::intptr_t kAttempt = 1;
constexpr std::intptr_t kConnected = 2;
constexpr std::intptr_t kEnded = 3;

// Where a run stands when the program stops it.
enum class StoppedWhile { Waiting, Connecting, Connected };

struct Interleaving {
    const char* name;
    StoppedWhile stoppedWhile;
    bool startTwice;  // a second start follows at once, as a second source would give
};

void PrintTo(const Interleaving& c, std::ostream* out) {
    *out << c.name;
}

// A host whose accept queue is full never answers the connection request.
class SilentHost {
public:
    SilentHost() : listener_(ListenOnLoopback(0, 0)) {
        for (int i = 0; i < 2 && listener_.IsOpen(); ++i) {
            fillers_.push_back(test::StartConnectToLoopback(Port()));
        }
    }
    int Port() const { return LocalPort(listener_.Get()); }

private:
    SocketFd listener_;
    std::vector<SocketFd> fillers_;
};

// A source drops (the link is stopped) and comes back (it is started again) while the link is
// in any of its states: the newest start always wins, and the link comes up again at once.
class HostLinkRestartTest : public ::testing::TestWithParam<Interleaving> {
protected:
    Notices StateNotices() const { return recorder_.WParamsOf(WM_HOST_LINK_STATE); }

    PostedMessageRecorder recorder_;
    HostLink link_;
};

TEST_P(HostLinkRestartTest, AStartDuringAStopIsNotLost) {
    const Interleaving& c = GetParam();
    SocketFd host = ListenOnLoopback();
    SilentHost silent;
    const int deadPort = test::FreeLoopbackPort();
    SocketFd firstHost;

    switch (c.stoppedWhile) {
        case StoppedWhile::Waiting:
            link_.StartHostLink("127.0.0.1", deadPort, 30);
            ASSERT_TRUE(recorder_.WaitForCount(WM_HOST_LINK_STATE, 2));
            break;
        case StoppedWhile::Connecting:
            link_.StartHostLink("127.0.0.1", silent.Port(), 30);
            ASSERT_TRUE(recorder_.WaitForCount(WM_HOST_LINK_STATE, 1));
            break;
        case StoppedWhile::Connected:
            link_.StartHostLink("127.0.0.1", LocalPort(host.Get()), 30);
            firstHost = AcceptWithin(host.Get());
            ASSERT_TRUE(firstHost.IsOpen());
            ASSERT_TRUE(recorder_.WaitForCount(WM_HOST_LINK_STATE, 2));
            break;
    }
    link_.StopHostLink();
    link_.StartHostLink("127.0.0.1", LocalPort(host.Get()), 2);
    if (c.startTwice) link_.StartHostLink("127.0.0.1", LocalPort(host.Get()), 30);

    SocketFd accepted = AcceptWithin(host.Get(), 4000);
    ASSERT_TRUE(accepted.IsOpen());
    ASSERT_TRUE(recorder_.WaitUntil([&] { return link_.IsHostLinkConnected(); }));
    recorder_.DeliverFor(300);
    // One link only, announced last.
    EXPECT_FALSE(AcceptWithin(host.Get(), 0).IsOpen());
    const Notices notices = StateNotices();
    ASSERT_GE(notices.size(), 2u);
    EXPECT_EQ(Notices(notices.end() - 2, notices.end()), (Notices{kAttempt, kConnected}));
    EXPECT_EQ(std::count(notices.begin(), notices.end(), kAttempt),
              std::count(notices.begin(), notices.end(), kEnded) + 1);
    link_.StopHostLink();
    EXPECT_TRUE(link_.WaitUntilStopped(3000));
}

INSTANTIATE_TEST_SUITE_P(
    Interleavings, HostLinkRestartTest,
    ::testing::Values(Interleaving{"StoppedWhileWaiting", StoppedWhile::Waiting, false},
                      Interleaving{"StoppedWhileConnecting", StoppedWhile::Connecting, false},
                      Interleaving{"StoppedWhileConnected", StoppedWhile::Connected, false},
                      Interleaving{"StoppedWhileWaitingStartedTwice", StoppedWhile::Waiting, true},
                      Interleaving{"StoppedWhileConnectedStartedTwice", StoppedWhile::Connected,
                                   true}),
    [](const auto& info) { return std::string(info.param.name); });

class HostLinkTargetTest : public ::testing::Test {
protected:
    PostedMessageRecorder recorder_;
    HostLink link_;
};

// A second start while a run waits out its retry delay after a failed attempt: a host or port
// corrected meanwhile is tried at once; the reconnection's short delay does not shorten the
// wait of a run started with a source's long one.
struct SecondStart {
    const char* name;
    bool newTarget;    // the second start names another port
    bool stopFirst;    // the run is stopped before the second start
    int delaySeconds;  // the second start's retry delay
    int withinMs;      // how long the host is watched for an attempt
    bool expectAttempt;
};

void PrintTo(const SecondStart& c, std::ostream* out) {
    *out << c.name;
}

class HostLinkSecondStartTest : public HostLinkTargetTest,
                                public ::testing::WithParamInterface<SecondStart> {};

TEST_P(HostLinkSecondStartTest, TheWaitEndsOnlyForANewTargetOrANewRun) {
    const SecondStart& c = GetParam();
    const int port = test::FreeLoopbackPort();
    link_.StartHostLink("127.0.0.1", port, 30);
    ASSERT_TRUE(recorder_.WaitForCount(WM_HOST_LINK_STATE, 2));
    SocketFd host = c.newTarget ? ListenOnLoopback() : ListenOnLoopback(port);
    ASSERT_TRUE(host.IsOpen());
    if (c.stopFirst) link_.StopHostLink();
    link_.StartHostLink("127.0.0.1", LocalPort(host.Get()), c.delaySeconds);
    EXPECT_EQ(AcceptWithin(host.Get(), c.withinMs).IsOpen(), c.expectAttempt);
    link_.StopHostLink();
    EXPECT_TRUE(link_.WaitUntilStopped(3000));
}

INSTANTIATE_TEST_SUITE_P(
    Starts, HostLinkSecondStartTest,
    ::testing::Values(SecondStart{"ANewTargetIsTriedAtOnce", true, false, 30, 2000, true},
                      SecondStart{"TheReconnectionDoesNotShortenTheWait", false, false, 2, 3500,
                                  false},
                      SecondStart{"ANewRunAfterAStopAttemptsAtOnce", false, true, 2, 2000, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Tracked lines are reported once the host's TCP has all their bytes.
TEST_F(HostLinkTargetTest, TrackedLinesAreReportedDelivered) {
    SocketFd host = ListenOnLoopback();
    link_.StartHostLink("127.0.0.1", LocalPort(host.Get()), 30);
    SocketFd accepted = AcceptWithin(host.Get());
    ASSERT_TRUE(recorder_.WaitUntil([&] { return link_.IsHostLinkConnected(); }));
    const std::uint64_t run = link_.ConnectedRun();
    ASSERT_TRUE(link_.QueueLines(run, {{5, "one"}, {0, "Ping()"}, {6, "two"}}));
    EXPECT_FALSE(link_.QueueLines(run + 1, {{7, "three"}}));
    std::string received;
    ASSERT_TRUE(ReceiveAtLeast(accepted.Get(), received, 18));
    EXPECT_EQ(received, "one\r\nPing()\r\ntwo\r\n");
    ASSERT_TRUE(recorder_.WaitUntil([&] {
        const auto delivered = recorder_.WParamsOf(WM_HOST_DELIVERED);
        return !delivered.empty() && delivered.back() == 6;
    }));
}

// A host that takes nothing of what waits for it is lost after the stall limit; queuing for it
// never waits.
TEST_F(HostLinkTargetTest, AHostThatTakesNothingIsLost) {
    SocketFd host = ListenOnLoopback();
    link_.SetStallLimitForTesting(std::chrono::milliseconds(500));
    link_.StartHostLink("127.0.0.1", LocalPort(host.Get()), 30);
    SocketFd accepted = AcceptWithin(host.Get());
    ASSERT_TRUE(recorder_.WaitUntil([&] { return link_.IsHostLinkConnected(); }));
    const std::uint64_t run = link_.ConnectedRun();
    const std::vector<OutgoingLine> lines(40000, OutgoingLine{1, std::string(500, 'x')});
    ASSERT_TRUE(link_.QueueLines(run, lines));  // 20 MB, far more than the sockets hold
    ASSERT_TRUE(recorder_.WaitForCount(WM_HOST_LINK_STATE, 3, 10000));
    EXPECT_EQ(recorder_.WParamsOf(WM_HOST_LINK_STATE), (Notices{kAttempt, kConnected, kEnded}));
    EXPECT_TRUE(recorder_.WaitUntil([&] {
        const auto logs = recorder_.TextsOf(WM_LOG_LINE);
        return std::find(logs.begin(), logs.end(),
                         "$$$ Ostrak Pro ne prend plus rien depuis 0 s : liaison fermée") !=
               logs.end();
    }));
    EXPECT_FALSE(link_.IsHostLinkConnected());
}

}  // namespace
}  // namespace torvane
