#include "net/HostLink.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Texts.h"
#include "support/LoopbackSockets.h"
#include "support/PostedMessageRecorder.h"

namespace torvane {
namespace {

using test::AcceptWithin;
using test::ConnectToLoopback;
using test::ListenOnLoopback;
using test::LocalPort;
using test::PostedMessageRecorder;
using test::ReceiveAtLeast;
using test::ReceiveFor;
using test::SendBytes;
using test::SocketFd;
using test::WaitForPeerClose;

using Notices = std::vector<std::intptr_t>;
constexpr std::intptr_t kAttempt = 1;
constexpr std::intptr_t kConnected = 2;
constexpr std::intptr_t kEnded = 3;
constexpr int kStopWithinMs = 1000;  // a stop is seen within one 250 ms wait step

class HostLinkTest : public ::testing::Test {
protected:
    Notices StateNotices() const { return recorder_.WParamsOf(WM_HOST_LINK_STATE); }
    std::vector<std::string> Lines() const { return recorder_.TextsOf(WM_HOST_LINE); }
    bool WaitForNotices(std::size_t count, int timeoutMs = 5000) {
        return recorder_.WaitForCount(WM_HOST_LINK_STATE, count, timeoutMs);
    }

    // Starts the link to a listening host and accepts it; the host side of the connection.
    SocketFd ConnectTo(const SocketFd& host, int retryDelaySeconds = 30) {
        link_.StartHostLink("127.0.0.1", LocalPort(host.Get()), retryDelaySeconds);
        SocketFd accepted = AcceptWithin(host.Get());
        EXPECT_TRUE(accepted.IsOpen());
        EXPECT_TRUE(WaitForNotices(2));
        EXPECT_EQ(StateNotices(), (Notices{kAttempt, kConnected}));
        EXPECT_TRUE(link_.IsHostLinkConnected());
        return accepted;
    }

    // Stops the link and checks that its thread ends without a notice 2 after the stop.
    void StopAndExpectEnd() {
        const std::size_t before = StateNotices().size();
        link_.StopHostLink();
        EXPECT_TRUE(link_.WaitUntilStopped(kStopWithinMs));
        EXPECT_FALSE(link_.IsRunning());
        EXPECT_FALSE(link_.IsHostLinkConnected());
        recorder_.DeliverFor(20);
        const Notices all = StateNotices();
        for (std::size_t i = before; i < all.size(); ++i) EXPECT_NE(all[i], kConnected);
        if (!all.empty()) {
            EXPECT_EQ(all.back(), kEnded);
        }
    }

    PostedMessageRecorder recorder_;
    HostLink link_;
};

// Targets where every attempt fails: the pattern 1, 3, wait, 1, 3 goes on until the stop.
struct FailingTarget {
    const char* name;
    std::string host;
    bool usesFreeLoopbackPort;
    int port;
};

class HostLinkFailingTargetTest : public HostLinkTest,
                                  public ::testing::WithParamInterface<FailingTarget> {};

const FailingTarget kFailingTargets[] = {
    {"RefusedPort", "127.0.0.1", true, 0},
    {"UnresolvableName", "no-such-host.invalid", false, 8283},
    {"PortZero", "127.0.0.1", false, 0},
    {"PortOutOfRange", "127.0.0.1", false, 70000},
};

TEST_P(HostLinkFailingTargetTest, RetriesUntilStopped) {
    const FailingTarget& target = GetParam();
    const int port = target.usesFreeLoopbackPort ? test::FreeLoopbackPort() : target.port;
    link_.StartHostLink(target.host, port, 0);  // retries after one wait step
    ASSERT_TRUE(WaitForNotices(4));
    const Notices seen = StateNotices();
    EXPECT_EQ(Notices(seen.begin(), seen.begin() + 4),
              (Notices{kAttempt, kEnded, kAttempt, kEnded}));
    EXPECT_FALSE(link_.SendHostLine("GetMode()"));
    StopAndExpectEnd();
}

INSTANTIATE_TEST_SUITE_P(Targets, HostLinkFailingTargetTest, ::testing::ValuesIn(kFailingTargets),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostLinkTest, HostThatAppearsLaterIsReachedAfterTheRetryDelay) {
    const int port = test::FreeLoopbackPort();
    link_.StartHostLink("127.0.0.1", port, 1);
    ASSERT_TRUE(WaitForNotices(2));
    EXPECT_EQ(StateNotices(), (Notices{kAttempt, kEnded}));

    SocketFd host = ListenOnLoopback(port);
    ASSERT_TRUE(host.IsOpen());
    SocketFd accepted = AcceptWithin(host.Get(), 3000);
    ASSERT_TRUE(accepted.IsOpen());
    ASSERT_TRUE(WaitForNotices(4));
    EXPECT_EQ(StateNotices(), (Notices{kAttempt, kEnded, kAttempt, kConnected}));
    EXPECT_TRUE(link_.IsHostLinkConnected());

    StopAndExpectEnd();
    EXPECT_EQ(StateNotices(), (Notices{kAttempt, kEnded, kAttempt, kConnected, kEnded}));
    EXPECT_TRUE(WaitForPeerClose(accepted.Get()));
}

TEST_F(HostLinkTest, StopWhileWaitingEndsAtOnceWithoutConnecting) {
    SocketFd host = ListenOnLoopback();
    const int freePort = test::FreeLoopbackPort();
    link_.StartHostLink("127.0.0.1", freePort, 30);
    ASSERT_TRUE(WaitForNotices(2));
    StopAndExpectEnd();
    EXPECT_EQ(StateNotices(), (Notices{kAttempt, kEnded}));
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

TEST_F(HostLinkTest, SilentHostFailsTheAttemptAfterTheTimeout) {
    SilentHost host;
    link_.StartHostLink("127.0.0.1", host.Port(), 30);
    ASSERT_TRUE(WaitForNotices(1));
    recorder_.DeliverFor(1000);
    EXPECT_EQ(StateNotices(), (Notices{kAttempt}));  // still waiting for an answer
    ASSERT_TRUE(WaitForNotices(2, HostLink::kConnectTimeoutSeconds * 1000 + 2000));
    EXPECT_EQ(StateNotices(), (Notices{kAttempt, kEnded}));
    StopAndExpectEnd();
}

TEST_F(HostLinkTest, StopWhileConnectingEndsTheAttemptWithItsNotice) {
    SilentHost host;
    link_.StartHostLink("127.0.0.1", host.Port(), 30);
    ASSERT_TRUE(WaitForNotices(1));
    recorder_.DeliverFor(300);
    ASSERT_TRUE(link_.IsRunning());
    StopAndExpectEnd();
    EXPECT_EQ(StateNotices(), (Notices{kAttempt, kEnded}));
}

TEST_F(HostLinkTest, StopWhileConnectedClosesTheSocket) {
    SocketFd host = ListenOnLoopback();
    SocketFd accepted = ConnectTo(host);
    StopAndExpectEnd();
    EXPECT_EQ(StateNotices(), (Notices{kAttempt, kConnected, kEnded}));
    EXPECT_TRUE(WaitForPeerClose(accepted.Get()));
    EXPECT_FALSE(link_.SendHostLine("GetMode()"));
}

TEST_F(HostLinkTest, HostClosingEndsTheLinkWithoutReconnecting) {
    SocketFd host = ListenOnLoopback();
    SocketFd accepted = ConnectTo(host, 0);
    accepted.Close();
    ASSERT_TRUE(WaitForNotices(3));
    EXPECT_TRUE(link_.WaitUntilStopped(kStopWithinMs));
    recorder_.DeliverFor(300);
    EXPECT_EQ(StateNotices(), (Notices{kAttempt, kConnected, kEnded}));
    EXPECT_FALSE(link_.IsHostLinkConnected());
    EXPECT_FALSE(AcceptWithin(host.Get(), 0).IsOpen());
}

TEST_F(HostLinkTest, StartWhileRunningChangesNothing) {
    SocketFd first = ListenOnLoopback();
    SocketFd second = ListenOnLoopback();
    SocketFd accepted = ConnectTo(first);
    link_.StartHostLink("127.0.0.1", LocalPort(second.Get()), 2);
    EXPECT_FALSE(AcceptWithin(second.Get(), 300).IsOpen());
    EXPECT_EQ(StateNotices(), (Notices{kAttempt, kConnected}));
    ASSERT_TRUE(link_.SendHostLine("GetMode()"));
    std::string received;
    EXPECT_TRUE(ReceiveAtLeast(accepted.Get(), received, 11));
}

TEST_F(HostLinkTest, RestartAfterAnEndedLinkConnectsAgain) {
    SocketFd host = ListenOnLoopback();
    SocketFd accepted = ConnectTo(host);
    accepted.Close();
    ASSERT_TRUE(WaitForNotices(3));
    ASSERT_TRUE(link_.WaitUntilStopped(kStopWithinMs));
    recorder_.Clear();
    SocketFd again = ConnectTo(host);
    EXPECT_TRUE(link_.SendHostLine("Ping()"));
}

TEST_F(HostLinkTest, SendBeforeConnectingReturnsFalse) {
    EXPECT_FALSE(link_.SendHostLine("GetMode()"));
    SilentHost host;
    link_.StartHostLink("127.0.0.1", host.Port(), 30);
    ASSERT_TRUE(WaitForNotices(1));
    EXPECT_FALSE(link_.SendHostLine("GetMode()"));
}

TEST_F(HostLinkTest, SendsEachLineWholeWithCrLf) {
    SocketFd host = ListenOnLoopback();
    SocketFd accepted = ConnectTo(host);
    const std::string big = "AddDagClock(" + std::string(3 * 1024 * 1024, '7') + ")";

    std::string received;
    std::thread reader(
        [&] { ReceiveAtLeast(accepted.Get(), received, big.size() + 2 + 8, 10000); });
    EXPECT_TRUE(link_.SendHostLine(big));
    EXPECT_TRUE(link_.SendHostLine("Ping()"));
    reader.join();
    EXPECT_EQ(received, big + "\r\nPing()\r\n");
}

// How the host's byte stream is cut into posted lines.
struct LineCase {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<std::string> expectedLines;  // before the closing "END" line
};

class HostLinkLineTest : public HostLinkTest, public ::testing::WithParamInterface<LineCase> {};

const LineCase kLineCases[] = {
    {"OkWithCrLf", {"OK\r\n"}, {"OK"}},
    {"CrLfAloneIsAnEmptyLine", {"\r\n"}, {""}},
    {"BareLineFeedIsNotPosted", {"\n"}, {}},
    {"SeveralLinesInOneBlock", {"A\nB\r\n\nC\r\r\n"}, {"A", "B", "C"}},
    {"LineSplitOverBlocks", {"O", "K\r", "\nNe", "xt\r\n"}, {"OK", "Next"}},
    {"NulCutsTheLine", {std::string("A\0B\r\n", 5)}, {"A"}},
    {"LongestLineIsKept", {std::string(2046, 'x') + "\r\n"}, {std::string(2046, 'x')}},
};

TEST_P(HostLinkLineTest, PostsTheLinesOfTheStream) {
    SocketFd host = ListenOnLoopback();
    SocketFd accepted = ConnectTo(host);
    for (const std::string& chunk : GetParam().chunks) {
        ASSERT_TRUE(SendBytes(accepted.Get(), chunk));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(SendBytes(accepted.Get(), "END\r\n"));
    std::vector<std::string> expected = GetParam().expectedLines;
    expected.push_back("END");
    ASSERT_TRUE(recorder_.WaitForCount(WM_HOST_LINE, expected.size()));
    EXPECT_EQ(Lines(), expected);
}

INSTANTIATE_TEST_SUITE_P(Streams, HostLinkLineTest, ::testing::ValuesIn(kLineCases),
                         [](const auto& info) { return std::string(info.param.name); });

std::string TooLongLogLine(std::size_t bytes) {
    return Format(Tr("$$$ Host line too long (%zu bytes), dropped",
                     "$$$ Ligne de l'hôte trop longue (%zu octets), ignorée"),
                  bytes);
}

TEST_F(HostLinkTest, LineLongerThanTheLimitIsDroppedWholeWithOneLogLine) {
    SocketFd host = ListenOnLoopback();
    SocketFd accepted = ConnectTo(host);
    const std::size_t justOver = HostLink::kMaxLineBytes + 1;
    ASSERT_TRUE(SendBytes(accepted.Get(), std::string(justOver - 1, 'a') + "\r\nOK\r\n"));
    ASSERT_TRUE(SendBytes(accepted.Get(), std::string(10000, 'b')));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(SendBytes(accepted.Get(), std::string(5000, 'c') + "\nEND\r\n"));

    ASSERT_TRUE(recorder_.WaitForCount(WM_HOST_LINE, 2));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"OK", "END"}));
    EXPECT_EQ(recorder_.TextsOf(WM_LOG_LINE),
              (std::vector<std::string>{TooLongLogLine(justOver), TooLongLogLine(15000)}));
    for (const auto& record : recorder_.RecordsOf(WM_LOG_LINE)) EXPECT_EQ(record.wParam, 0);
}

}  // namespace
}  // namespace torvane
