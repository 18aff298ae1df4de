#include "net/HostLink.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Texts.h"
#include "net/HostAnswerReader.h"
#include "net/HostDelivery.h"
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

// How a peer saw its side of the link end.
struct PeerEnd {
    std::string received;
    bool ended = false;  // end of stream or reset within the time
    bool reset = false;
};

PeerEnd ReadUntilEnd(int fd, int timeoutMs = 10000) {
    PeerEnd end;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char block[65536];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd watched{fd, POLLIN, 0};
        if (::poll(&watched, 1, 50) <= 0) continue;
        const ssize_t got = ::recv(fd, block, sizeof block, MSG_DONTWAIT);
        if (got > 0) {
            end.received.append(block, static_cast<std::size_t>(got));
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            end.ended = true;
            end.reset = got < 0 && errno == ECONNRESET;
            return end;
        }
    }
    return end;
}

// Tracked lines 1..count of `size` bytes each: "<seq>:xxx...".
std::vector<OutgoingLine> TrackedLines(int count, std::size_t size) {
    std::vector<OutgoingLine> lines;
    for (int seq = 1; seq <= count; ++seq) {
        std::string text = std::to_string(seq) + ":";
        text.resize(size, 'x');
        lines.push_back({seq, std::move(text)});
    }
    return lines;
}

// The highest tracked line whose text and CR LF the peer has received whole.
std::int64_t LastWholeLine(const std::string& received) {
    const std::size_t lastEnd = received.rfind("\r\n");
    if (lastEnd == std::string::npos) return 0;
    const std::size_t start = received.rfind("\r\n", lastEnd == 0 ? 0 : lastEnd - 1);
    const std::size_t from = start == std::string::npos ? 0 : start + 2;
    return std::stoll(received.substr(from, received.find(':', from) - from));
}

// How Torvane ends a link: in order when nothing waits for the host; with a reset when bytes
// still wait (a stop, a host given up), so that none of them reaches the host afterwards.
struct EndingCase {
    const char* name;
    int lines;         // tracked lines of 500 bytes queued before the end
    bool peerReads;    // the host reads what it is sent
    int stallLimitMs;  // 0: the link is stopped instead
    bool expectReset;
};

class HostLinkEndingTest : public HostLinkTest, public ::testing::WithParamInterface<EndingCase> {};

const EndingCase kEndingCases[] = {
    {"StopWithNothingWaitingEndsInOrder", 0, true, 0, false},
    {"StopAfterEverythingWasReadEndsInOrder", 100, true, 0, false},
    {"StopWhileLinesWaitResets", 40000, false, 0, true},
    {"HostGivenUpForTheStallRuleIsReset", 40000, false, 500, true},
};

TEST_P(HostLinkEndingTest, TheHostSeesTheEndItShould) {
    const EndingCase& c = GetParam();
    SocketFd host = ListenOnLoopback();
    if (c.stallLimitMs > 0)
        link_.SetStallLimitForTesting(std::chrono::milliseconds(c.stallLimitMs));
    SocketFd accepted = ConnectTo(host);
    ASSERT_TRUE(link_.QueueLines(link_.ConnectedRun(), TrackedLines(c.lines, 500)));
    std::string received;
    if (c.peerReads) {
        ASSERT_TRUE(ReceiveAtLeast(accepted.Get(), received, c.lines * 502u));
    }
    if (c.stallLimitMs == 0) {
        recorder_.DeliverFor(100);
        link_.StopHostLink();
    }
    ASSERT_TRUE(WaitForNotices(3, 10000));
    EXPECT_TRUE(link_.WaitUntilStopped(kStopWithinMs));
    // Everything the host can still read after the end was in its own buffer before it.
    const PeerEnd end = ReadUntilEnd(accepted.Get());
    EXPECT_TRUE(end.ended);
    EXPECT_EQ(end.reset, c.expectReset);
    if (c.expectReset) {
        EXPECT_LT(end.received.size(), c.lines * 502u);
    }
    recorder_.DeliverFor(50);
    const auto delivered = recorder_.WParamsOf(WM_HOST_DELIVERED);
    const std::int64_t lastDelivered = delivered.empty() ? 0 : delivered.back();
    EXPECT_LE(lastDelivered, LastWholeLine(received + end.received));
    if (c.peerReads) {
        EXPECT_EQ(lastDelivered, c.lines);
    }
    EXPECT_EQ(recorder_.CountOf(WM_HOST_RESET), 0u);
}

INSTANTIATE_TEST_SUITE_P(Endings, HostLinkEndingTest, ::testing::ValuesIn(kEndingCases),
                         [](const auto& info) { return std::string(info.param.name); });

// How the host ends a link: a reset is told (WM_HOST_RESET, before the Ended notice), an
// orderly end is not.
enum class HostEnding { ClosesInOrder, ClosesWithLinesUnread, Resets };

struct HostEndingCase {
    const char* name;
    HostEnding ending;
    bool expectReset;
};

class HostLinkHostEndingTest : public HostLinkTest,
                               public ::testing::WithParamInterface<HostEndingCase> {};

const HostEndingCase kHostEndingCases[] = {
    {"ClosesInOrder", HostEnding::ClosesInOrder, false},
    {"ClosesWithLinesUnread", HostEnding::ClosesWithLinesUnread, true},
    {"ResetsAbortively", HostEnding::Resets, true},
};

TEST_P(HostLinkHostEndingTest, AResetIsToldBeforeTheEnd) {
    const HostEndingCase& c = GetParam();
    SocketFd host = ListenOnLoopback();
    SocketFd accepted = ConnectTo(host);
    const std::uint64_t run = link_.ConnectedRun();
    if (c.ending != HostEnding::ClosesInOrder) {
        ASSERT_TRUE(link_.QueueLines(run, TrackedLines(20, 500)));
        ASSERT_TRUE(recorder_.WaitUntil([&] { return link_.UnwrittenBytes() == 0; }));
    }
    if (c.ending == HostEnding::Resets) {
        const linger abort{1, 0};
        ASSERT_EQ(::setsockopt(accepted.Get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    }
    accepted.Close();
    ASSERT_TRUE(WaitForNotices(3));
    recorder_.DeliverFor(50);
    std::vector<int> ids;
    for (const auto& record : recorder_.Records()) {
        if (record.id == WM_HOST_RESET || record.id == WM_HOST_LINK_STATE) ids.push_back(record.id);
    }
    std::vector<int> expected = {WM_HOST_LINK_STATE, WM_HOST_LINK_STATE};
    if (c.expectReset) expected.push_back(WM_HOST_RESET);
    expected.push_back(WM_HOST_LINK_STATE);
    EXPECT_EQ(ids, expected);
    for (const auto& record : recorder_.RecordsOf(WM_HOST_RESET)) {
        const auto* payload = PostedMessageRecorder::PayloadAs<RunPayload>(record);
        ASSERT_NE(payload, nullptr);
        EXPECT_EQ(payload->run, run);
    }
}

INSTANTIATE_TEST_SUITE_P(HostEndings, HostLinkHostEndingTest, ::testing::ValuesIn(kHostEndingCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A clean stop: the queued lines go, and the call tells which are through.
enum class DrainHost { NoLink, Reads, ReadsNothing, LeavesMeanwhile };

struct DrainCase {
    const char* name;
    DrainHost host;
    int lines;  // tracked lines of 500 bytes queued before the stop
    bool expectAll;
    bool expectReset;
};

class HostLinkDrainTest : public HostLinkTest, public ::testing::WithParamInterface<DrainCase> {};

const DrainCase kDrainCases[] = {
    {"NoLinkReturnsNothingAtOnce", DrainHost::NoLink, 0, false, false},
    {"HealthyHostGetsEverythingAndAnOrderlyEnd", DrainHost::Reads, 20000, true, false},
    {"HostReadingNothingIsResetAfterTheLimit", DrainHost::ReadsNothing, 40000, false, true},
    {"LinkEndingMeanwhileTellsWhatWentBefore", DrainHost::LeavesMeanwhile, 40000, false, false},
};

TEST_P(HostLinkDrainTest, DeliversThenStops) {
    const DrainCase& c = GetParam();
    SocketFd host = ListenOnLoopback();
    SocketFd accepted;
    std::thread peer;
    PeerEnd end;
    if (c.host != DrainHost::NoLink) {
        accepted = ConnectTo(host);
        ASSERT_TRUE(link_.QueueLines(link_.ConnectedRun(), TrackedLines(c.lines, 500)));
    }
    if (c.host == DrainHost::Reads) peer = std::thread([&] { end = ReadUntilEnd(accepted.Get()); });
    if (c.host == DrainHost::LeavesMeanwhile) {
        peer = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            accepted.Close();
        });
    }
    const std::int64_t through = link_.DrainAndStop(std::chrono::milliseconds(3000));
    if (peer.joinable()) peer.join();
    EXPECT_FALSE(link_.IsRunning());
    EXPECT_FALSE(link_.SendHostLine("Ping()"));
    if (c.host == DrainHost::NoLink) {
        EXPECT_EQ(through, 0);
        return;
    }
    if (c.host == DrainHost::ReadsNothing) end = ReadUntilEnd(accepted.Get());
    EXPECT_EQ(end.reset, c.expectReset);
    if (c.expectAll) {
        EXPECT_EQ(through, c.lines);
        EXPECT_TRUE(end.ended);
        EXPECT_EQ(end.received.size(), c.lines * 502u);
    } else {
        EXPECT_LT(through, c.lines);
    }
    if (c.host != DrainHost::LeavesMeanwhile) {
        EXPECT_LE(through, LastWholeLine(end.received));
    }
    // What the call returns is what the delivery notices tell.
    ASSERT_TRUE(WaitForNotices(3));
    recorder_.DeliverFor(50);
    const auto delivered = recorder_.WParamsOf(WM_HOST_DELIVERED);
    EXPECT_EQ(delivered.empty() ? 0 : delivered.back(), through);
}

INSTANTIATE_TEST_SUITE_P(Drains, HostLinkDrainTest, ::testing::ValuesIn(kDrainCases),
                         [](const auto& info) { return std::string(info.param.name); });

// What the kernel's send queue tells about the bytes the host has acknowledged.
struct AccountingCase {
    const char* name;
    std::optional<std::uint64_t> unacknowledged;  // nullopt: the kernel could not tell
    std::uint64_t written;
    std::uint64_t before;
    std::uint64_t expected;
};

class DeliveryAccountingTest : public ::testing::TestWithParam<AccountingCase> {};

const AccountingCase kAccountingCases[] = {
    {"AFailingQueryCountsNothing", std::nullopt, 1000, 0, 0},
    {"AFailingQueryKeepsWhatWasCounted", std::nullopt, 1000, 400, 400},
    {"AnEmptyQueueCountsEverything", 0, 1000, 400, 1000},
    {"BytesInTheQueueAreNotCounted", 300, 1000, 0, 700},
    {"TheCountNeverGoesBack", 900, 1000, 400, 400},
};

TEST_P(DeliveryAccountingTest, CountsOnlyWhatTheHostAcknowledged) {
    const AccountingCase& c = GetParam();
    EXPECT_EQ(AcknowledgedBytes(c.written, c.unacknowledged, c.before), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeliveryAccountingTest, ::testing::ValuesIn(kAccountingCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A socket whose send queue cannot be asked, and the end-of-stream mark of a shut-down one.
TEST(DeliveryQueryTest, TheKernelsAnswerIsTakenOnlyWhereItMeansLineBytes) {
    SocketFd listening = ListenOnLoopback();
    EXPECT_EQ(UnacknowledgedBytes(listening.Get(), false), std::nullopt);
    EXPECT_EQ(UnacknowledgedBytes(-1, false), std::nullopt);
    SocketFd client = ConnectToLoopback(LocalPort(listening.Get()));
    SocketFd server = AcceptWithin(listening.Get());
    ASSERT_TRUE(SendBytes(client.Get(), "AddDagClock()\r\n"));
    std::string received;
    ASSERT_TRUE(ReceiveAtLeast(server.Get(), received, 15));
    ASSERT_EQ(::shutdown(client.Get(), SHUT_WR), 0);
    ASSERT_TRUE(WaitForPeerClose(server.Get()));
    EXPECT_EQ(UnacknowledgedBytes(client.Get(), true), std::uint64_t{0});
}

// A host flooding answers while nothing handles them: the link stops reading, memory stays
// bounded, and everything is read once the lines are handled again.
TEST_F(HostLinkTest, AnswersAreReadOnlyAsFastAsTheyAreHandled) {
    SocketFd host = ListenOnLoopback();
    SocketFd accepted = ConnectTo(host);
    const std::string answer = "ERR:" + std::string(96, 'e') + "\r\n";
    const std::size_t kFloodBytes = 50u * 1024 * 1024;
    const std::size_t total = kFloodBytes / answer.size();
    std::atomic<std::size_t> sentLines{0};
    std::thread flood([&] {
        std::string block;
        for (int i = 0; i < 600; ++i) block += answer;
        for (std::size_t sent = 0; sent < total;) {
            const std::size_t now = std::min<std::size_t>(600, total - sent);
            if (!SendBytes(accepted.Get(), block.substr(0, now * answer.size()))) return;
            sent += now;
            sentLines = sent;
        }
    });
    // Nothing is handled: the flood stalls once the budget and the socket buffers are full.
    std::size_t before = 0;
    do {
        before = sentLines;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } while (sentLines != before);
    EXPECT_LT(sentLines * answer.size(), 20u * 1024 * 1024);
    const std::int64_t bound = HostAnswerBudget::kMaxBytes + 64 * 1024;
    EXPECT_LE(link_.UnhandledAnswerBytes(), bound);
    EXPECT_GT(link_.UnhandledAnswerBytes(), HostAnswerBudget::kMaxBytes / 2);

    // Handled again: every answer arrives, the budget holds, and tracked lines are delivered.
    ASSERT_TRUE(link_.QueueLines(link_.ConnectedRun(), {{7, "AddDagClock()"}}));
    std::size_t handled = 0;
    std::int64_t delivered = 0;
    std::int64_t mostUnhandled = 0;
    EXPECT_TRUE(recorder_.WaitUntil(
        [&] {
            handled += recorder_.CountOf(WM_HOST_LINE);
            for (auto seq : recorder_.WParamsOf(WM_HOST_DELIVERED)) delivered = seq;
            recorder_.Clear();
            mostUnhandled = std::max(mostUnhandled, link_.UnhandledAnswerBytes());
            return handled == total;
        },
        60000));
    ::shutdown(accepted.Get(), SHUT_RDWR);  // a flood left half-way must not hold the test
    flood.join();
    EXPECT_EQ(handled, total);
    EXPECT_EQ(delivered, 7);
    EXPECT_LE(mostUnhandled, bound);
}

}  // namespace
}  // namespace torvane
