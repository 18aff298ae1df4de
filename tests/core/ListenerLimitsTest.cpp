#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "net/AddressRange.h"
#include "net/DetectionListener.h"
#include "support/LoopbackSockets.h"
#include "support/PostedMessageRecorder.h"

namespace torvane {
namespace {

using test::ConnectToLoopback;
using test::PostedMessageRecorder;
using test::ReceiveAtLeast;
using test::SendBytes;
using test::SocketFd;
using test::WaitForPeerClose;

std::uint32_t Address(const char* text) {
    in_addr parsed{};
    ::inet_pton(AF_INET, text, &parsed);
    return ntohl(parsed.s_addr);
}

TEST(AddressRangeTest, AddressesAndRangesAreReadAndOthersNamed) {
    const AddressRanges parsed = ParseAddressRanges(
        " 192.168.1.20, 10.0.0.0/8;127.0.0.1/32 0.0.0.0/0x host 1.2.3/8 "
        "10.0.0.0/33 10.0.0.0/ 300.1.1.1");
    ASSERT_EQ(parsed.ranges.size(), 3u);
    EXPECT_EQ(parsed.refused, (std::vector<std::string>{"0.0.0.0/0x", "host", "1.2.3/8",
                                                        "10.0.0.0/33", "10.0.0.0/", "300.1.1.1"}));
    struct Case {
        const char* peer;
        bool allowed;
    } cases[] = {{"192.168.1.20", true}, {"192.168.1.21", false}, {"10.200.3.4", true},
                 {"11.0.0.1", false},    {"127.0.0.1", true},     {"127.0.0.2", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(IsAllowed(parsed.ranges, Address(c.peer)), c.allowed) << c.peer;
    }
    EXPECT_TRUE(IsAllowed(ParseAddressRanges("0.0.0.0/0").ranges, Address("8.8.8.8")));
    EXPECT_TRUE(ParseAddressRanges("").ranges.empty());
}

class ListenerLimitsTest : public ::testing::Test {
protected:
    void Start(ListenerOptions options = {}) {
        listener_ = std::make_unique<DetectionListener>(nullptr);
        listener_->SetOptions(std::move(options));
        ASSERT_EQ(listener_->StartDetectionListener(0), 0);
    }
    SocketFd Connect() { return ConnectToLoopback(listener_->ListeningPort()); }
    std::size_t PassingsReceived() const {
        std::size_t passings = 0;
        for (const auto& record : recorder_.RecordsOf(WM_MYLAPS_MESSAGE)) {
            passings += PostedMessageRecorder::PayloadAs<MyLapsMessage>(record)->budgetPassings;
        }
        return passings;
    }
    bool Logged(const std::string& start) const { return LoggedCount(start) > 0; }
    int LoggedCount(const std::string& start) const {
        int count = 0;
        for (const std::string& line : recorder_.TextsOf(WM_LOG_LINE))
            count += line.rfind(start, 0) == 0 ? 1 : 0;
        return count;
    }
    void Reply(ConnectionId connection, const std::string& text) {
        MyLapsMessage message(connection, "");
        message.reply = text;
        listener_->SendMyLapsReply(message);
    }

    PostedMessageRecorder recorder_;
    std::unique_ptr<DetectionListener> listener_;
};

// A source is read only while the work it has handed over stays under its budget: the rest
// waits in TCP until the work is done.
TEST_F(ListenerLimitsTest, AFloodingSourceIsReadOnlyAsFastAsItsWorkIsDone) {
    Start();
    SocketFd source = Connect();
    constexpr int kMessages = 6000;  // ten passings each: three times the budget
    std::string record(40, 'r');
    std::string message = "Loop1@Store@";
    for (int i = 0; i < 10; ++i) message += record + "@";
    message += "1@$";
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        std::string all;
        for (int i = 0; i < kMessages; ++i) all += message;
        sent = SendBytes(source.Get(), all);
    });
    // The recorder keeps every message, so none of their work is done.
    ASSERT_TRUE(recorder_.WaitUntil([&] { return PassingsReceived() > 15000; }));
    recorder_.DeliverFor(500);
    const std::size_t held = PassingsReceived();
    EXPECT_LE(held, static_cast<std::size_t>(SourceBudget::kMaxPassings) + 2000) << held;
    EXPECT_LT(recorder_.CountOf(WM_MYLAPS_MESSAGE), static_cast<std::size_t>(kMessages));

    recorder_.Clear();  // the work is done
    ASSERT_TRUE(recorder_.WaitUntil(
        [&] {
            recorder_.Clear();
            return sent.load();
        },
        20000));
    sender.join();
}

// A source that never reads its acknowledgements is disconnected, and another source is
// served all the while.
TEST_F(ListenerLimitsTest, ASourceThatNeverReadsIsDisconnectedAndOthersAreServed) {
    Start();
    listener_->SetReplyStallLimitForTesting(std::chrono::milliseconds(1000));
    SocketFd deaf = Connect();
    const int small = 4096;
    ::setsockopt(deaf.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(SendBytes(deaf.Get(), "Deaf@Ping@$"));
    ASSERT_TRUE(recorder_.WaitForCount(WM_MYLAPS_MESSAGE, 1));
    const ConnectionId deafId =
        PostedMessageRecorder::PayloadAs<MyLapsMessage>(recorder_.RecordsOf(WM_MYLAPS_MESSAGE)[0])
            ->connection;

    SocketFd healthy = Connect();
    ASSERT_TRUE(SendBytes(healthy.Get(), "Good@Ping@$"));
    ASSERT_TRUE(recorder_.WaitForCount(WM_MYLAPS_MESSAGE, 2));
    const ConnectionId healthyId =
        PostedMessageRecorder::PayloadAs<MyLapsMessage>(recorder_.RecordsOf(WM_MYLAPS_MESSAGE)[1])
            ->connection;

    const std::string reply(1000, 'a');
    for (int i = 0; i < 8000; ++i) Reply(deafId, reply);  // 8 MB, never read
    Reply(healthyId, "Bag@GetInfo@");
    std::string received;
    EXPECT_TRUE(ReceiveAtLeast(healthy.Get(), received, 13));
    EXPECT_EQ(received, "Bag@GetInfo@$");

    // Its connection ends (the deaf source reads nothing, not even the end).
    EXPECT_TRUE(recorder_.WaitUntil([&] {
        const auto notices = recorder_.WParamsOf(WM_MYLAPS_CONNECTION);
        return std::count(notices.begin(), notices.end(), 0) == 1;
    }));
    EXPECT_TRUE(recorder_.WaitUntil([&] {
        return Logged("$$$ La source MyLaps 127.0.0.1 laisse plus de 1048576 octets") ||
               Logged("$$$ La source MyLaps 127.0.0.1 n'a pris aucun de ses acquittements");
    }));
    received.clear();
    Reply(healthyId, "Bag@AckStore@2");
    EXPECT_TRUE(ReceiveAtLeast(healthy.Get(), received, 15));
}

// A refused peer is named once a minute per address, and the refusals left out meanwhile are
// counted on its next line, whatever the reason of each.
TEST_F(ListenerLimitsTest, RefusedPeersAreClosedAtOnceAndLoggedOncePerMinute) {
    clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 12, 0, 0), 0});
    ListenerOptions options;
    options.restrictPeers = true;
    options.allowFrom = ParseAddressRanges("10.0.0.0/8").ranges;
    Start(options);
    const std::string refusedLine =
        "$$$ Connexion MyLaps de 127.0.0.1 refusée : adresse non autorisée ([MyLaps] AllowFrom)";
    struct Step {
        std::int64_t advanceMs;  // before the connections
        int connections;
        int linesAfter;        // refusal lines logged in all
        const char* lastLine;  // the last of them
    } steps[] = {
        {0, 20, 1, ""},
        {59000, 5, 1, ""},
        {1000, 1, 2, " (et 24 autres refusées depuis la ligne précédente)"},
        {30000, 3, 2, " (et 24 autres refusées depuis la ligne précédente)"},
        {30000, 1, 3, " (et 3 autres refusées depuis la ligne précédente)"},
        {60000, 1, 4, ""},
    };
    for (const Step& step : steps) {
        clock::AdvanceByForTesting(step.advanceMs);
        for (int n = 0; n < step.connections; ++n) {
            SocketFd refused = Connect();
            EXPECT_TRUE(WaitForPeerClose(refused.Get()));
        }
        ASSERT_TRUE(recorder_.WaitUntil(
            [&] { return LoggedCount("$$$ Connexion MyLaps de 127.0.0.1") >= step.linesAfter; }));
        recorder_.DeliverFor(100);
        const auto lines = recorder_.TextsOf(WM_LOG_LINE);
        EXPECT_EQ(LoggedCount("$$$ Connexion MyLaps de 127.0.0.1"), step.linesAfter);
        EXPECT_EQ(lines.back(), refusedLine + step.lastLine) << step.linesAfter;
    }
    EXPECT_EQ(recorder_.CountOf(WM_MYLAPS_CONNECTION), 0u);
    clock::UseSystemClock();
}

// Connections that send no whole message are closed once the first-message limit has passed, so
// that they cannot hold every place for good; a source that speaks stays past the limit.
TEST_F(ListenerLimitsTest, SilentConnectionsAreClosedAndFreeTheirPlaces) {
    ListenerOptions options;
    options.maxSources = 3;
    Start(options);
    listener_->SetFirstMessageLimitForTesting(std::chrono::milliseconds(1000));
    std::vector<SocketFd> silent;
    for (int n = 0; n < 3; ++n) silent.push_back(Connect());
    ASSERT_TRUE(SendBytes(silent[2].Get(), "Src@Pi"));  // bytes, but never a whole message
    ASSERT_TRUE(recorder_.WaitForCount(WM_MYLAPS_CONNECTION, 3));
    SocketFd turnedAway = Connect();
    EXPECT_TRUE(WaitForPeerClose(turnedAway.Get()));

    for (const SocketFd& connection : silent) EXPECT_TRUE(WaitForPeerClose(connection.Get()));
    EXPECT_TRUE(recorder_.WaitUntil([&] {
        return LoggedCount(
                   "$$$ La source MyLaps 127.0.0.1 n'a envoyé aucun message dans les 1 s "
                   "qui ont suivi sa connexion : déconnectée") == 3;
    }));
    SocketFd decoder = Connect();
    ASSERT_TRUE(SendBytes(decoder.Get(), "Loop1@Ping@$"));
    ASSERT_TRUE(recorder_.WaitForCount(WM_MYLAPS_MESSAGE, 1));
    recorder_.DeliverFor(1200);
    EXPECT_EQ(listener_->OpenConnectionCount(), 1);
    ASSERT_TRUE(SendBytes(decoder.Get(), "Loop1@Ping@$"));
    EXPECT_TRUE(recorder_.WaitForCount(WM_MYLAPS_MESSAGE, 2));
}

// The accepted socket of a source (found among this process's descriptors by its peer's port)
// probes a silent peer, and gives it up about two minutes after it fell silent.
TEST_F(ListenerLimitsTest, ASourceThatLostItsPowerIsGivenUpWithinTwoMinutes) {
    Start();
    SocketFd source = Connect();
    ASSERT_TRUE(recorder_.WaitForCount(WM_MYLAPS_CONNECTION, 1));
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(source.Get(), reinterpret_cast<sockaddr*>(&local), &length);

    int accepted = -1;
    DIR* descriptors = ::opendir("/proc/self/fd");
    ASSERT_NE(descriptors, nullptr);
    while (const dirent* entry = ::readdir(descriptors)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        if (fd != source.Get() &&
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0 &&
            peer.sin_port == local.sin_port) {
            accepted = fd;
        }
    }
    ::closedir(descriptors);
    ASSERT_GE(accepted, 0);
    int keepAlive = 0, idle = 0, interval = 0, probes = 0;
    socklen_t size = sizeof(int);
    ::getsockopt(accepted, SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &size);
    ::getsockopt(accepted, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &size);
    ::getsockopt(accepted, IPPROTO_TCP, TCP_KEEPINTVL, &interval, &size);
    ::getsockopt(accepted, IPPROTO_TCP, TCP_KEEPCNT, &probes, &size);
    EXPECT_EQ(keepAlive, 1);
    const int givenUpAfter = idle + interval * probes;
    EXPECT_GE(givenUpAfter, 60);
    EXPECT_LE(givenUpAfter, 150);
}

TEST_F(ListenerLimitsTest, ConnectionsPastTheMostAreClosed) {
    ListenerOptions options;
    options.maxSources = 2;
    Start(options);
    SocketFd first = Connect();
    SocketFd second = Connect();
    ASSERT_TRUE(recorder_.WaitForCount(WM_MYLAPS_CONNECTION, 2));
    SocketFd third = Connect();
    EXPECT_TRUE(WaitForPeerClose(third.Get()));
    EXPECT_TRUE(recorder_.WaitUntil([&] {
        return Logged("$$$ Connexion MyLaps de 127.0.0.1 refusée : 2 sources sont déjà connectées");
    }));
    first.Close();
    ASSERT_TRUE(recorder_.WaitForCount(WM_MYLAPS_CONNECTION, 3));  // its end
    SocketFd fourth = Connect();
    ASSERT_TRUE(recorder_.WaitForCount(WM_MYLAPS_CONNECTION, 4));
    EXPECT_EQ(recorder_.WParamsOf(WM_MYLAPS_CONNECTION).back(), 1);
}

TEST_F(ListenerLimitsTest, TheListenAddressIsTheOneBound) {
    ListenerOptions options;
    options.address = "127.0.0.1";
    Start(options);
    SocketFd source = Connect();
    EXPECT_TRUE(recorder_.WaitForCount(WM_MYLAPS_CONNECTION, 1));

    DetectionListener elsewhere(nullptr);
    ListenerOptions bad;
    bad.address = "not an address";
    elsewhere.SetOptions(bad);
    ListenerStartFailure failure;
    EXPECT_EQ(elsewhere.StartDetectionListener(0, &failure), -1);
    EXPECT_EQ(failure.step, ListenerStartFailure::Step::Bind);
}

}  // namespace
}  // namespace torvane
