#include "net/DetectionListener.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/LoopbackSockets.h"
#include "support/PostedMessageRecorder.h"

namespace torvane {
namespace {

using test::ConnectToLoopback;
using test::PostedMessageRecorder;
using test::ReceiveAtLeast;
using test::ReceiveFor;
using test::SendBytes;
using test::SocketFd;
using test::WaitForPeerClose;

constexpr std::intptr_t kConnected = 1;
constexpr std::intptr_t kEnded = 0;

class DetectionListenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        listener_ = std::make_unique<DetectionListener>(
            [this](const std::string& text) { errors_.push_back(text); });
        ASSERT_EQ(listener_->StartDetectionListener(0), 0);
        ASSERT_GT(listener_->ListeningPort(), 0);
    }

    SocketFd Connect() {
        SocketFd source = ConnectToLoopback(listener_->ListeningPort());
        EXPECT_TRUE(source.IsOpen());
        return source;
    }

    // Connects a source and waits for its connected notice.
    SocketFd ConnectAndWait() {
        SocketFd source = Connect();
        const std::size_t notices = Notices().size();
        EXPECT_TRUE(recorder_.WaitUntil([&] { return Notices().size() > notices; }));
        return source;
    }

    std::vector<std::intptr_t> Notices() const { return recorder_.WParamsOf(WM_MYLAPS_CONNECTION); }
    std::vector<std::string> Messages() const { return recorder_.TextsOf(WM_MYLAPS_MESSAGE); }
    bool WaitForMessages(std::size_t count) {
        return recorder_.WaitForCount(WM_MYLAPS_MESSAGE, count);
    }
    bool WaitForEndedNotices(std::size_t count) {
        return recorder_.WaitUntil([&] {
            std::size_t ended = 0;
            for (std::intptr_t notice : Notices()) ended += notice == kEnded ? 1 : 0;
            return ended >= count;
        });
    }
    const MyLapsMessage& MessageAt(std::size_t index) const {
        static const MyLapsMessage none(0, "");
        const auto records = recorder_.RecordsOf(WM_MYLAPS_MESSAGE);
        if (index >= records.size()) return none;
        return *PostedMessageRecorder::PayloadAs<MyLapsMessage>(records[index]);
    }
    void Reply(std::size_t messageIndex, const std::string& reply) {
        MyLapsMessage message(MessageAt(messageIndex).connection, "");
        message.reply = reply;
        listener_->SendMyLapsReply(message);
    }

    PostedMessageRecorder recorder_;
    std::vector<std::string> errors_;
    std::unique_ptr<DetectionListener> listener_;
};

// How a source's byte stream is cut into posted messages.
struct FramingCase {
    const char* name;
    std::vector<std::string> chunks;  // sent one after the other
    bool sourceLeavesAfter;           // the source closes after its last chunk
    std::vector<std::string> expectedTexts;
    bool connectionEnds;  // otherwise a further message still gets through
};

class DetectionListenerFramingTest : public DetectionListenerTest,
                                     public ::testing::WithParamInterface<FramingCase> {};

std::vector<std::string> ByteByByte(const std::string& bytes) {
    std::vector<std::string> chunks;
    for (char byte : bytes) chunks.emplace_back(1, byte);
    return chunks;
}

const FramingCase kFramingCases[] = {
    {"TwoMessagesInOnePacket",
     {"Src@Ping@$Src@Store@P1@17@$"},
     false,
     {"Src@Ping@", "Src@Store@P1@17@"},
     false},
    {"MessageSplitByteByByte",
     ByteByByte("Src@Marker@x@42@$Src@AckPing@$"),
     false,
     {"Src@Marker@x@42@", "Src@AckPing@"},
     false},
    {"LineEndsAfterDollarStartTheNextMessage",
     {"Src@Ping@$\r\n", "Src@AckPing@$"},
     false,
     {"Src@Ping@", "\r\nSrc@AckPing@"},
     false},
    {"EmptyMessageAfterAMessageCloses", {"Src@Ping@$$Src@AckPing@$"}, false, {"Src@Ping@"}, true},
    {"DollarFirstCloses", {"$Src@Ping@$"}, false, {}, true},
    {"SourceLeavingMidMessageDropsThePart", {"Src@Ping@$", "Src@Sto"}, true, {"Src@Ping@"}, true},
    {"NulCutsTheTextUpToTheDollar",
     {std::string("Src@P\0xx@$Src@Ping@$", 20)},
     false,
     {"Src@P", "Src@Ping@"},
     false},
    {"NulFirstGivesAnEmptyText", {std::string("\0abc$", 5)}, false, {""}, false},
};

TEST_P(DetectionListenerFramingTest, PostsTheMessagesOfTheStream) {
    const FramingCase& framing = GetParam();
    SocketFd source = ConnectAndWait();
    for (const std::string& chunk : framing.chunks) {
        ASSERT_TRUE(SendBytes(source.Get(), chunk));
        if (framing.chunks.size() > 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (framing.sourceLeavesAfter) source.Close();

    if (framing.connectionEnds) {
        ASSERT_TRUE(WaitForEndedNotices(1));
        if (source.IsOpen()) {
            EXPECT_TRUE(WaitForPeerClose(source.Get()));
        }
        recorder_.DeliverFor(50);
        EXPECT_EQ(Messages(), framing.expectedTexts);
        EXPECT_EQ(Notices(), (std::vector<std::intptr_t>{kConnected, kEnded}));
        EXPECT_EQ(listener_->OpenConnectionCount(), 0);
    } else {
        ASSERT_TRUE(SendBytes(source.Get(), "Src@AckGetInfo@$"));
        std::vector<std::string> expected = framing.expectedTexts;
        expected.push_back("Src@AckGetInfo@");
        ASSERT_TRUE(WaitForMessages(expected.size()));
        EXPECT_EQ(Messages(), expected);
        EXPECT_EQ(Notices(), (std::vector<std::intptr_t>{kConnected}));
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, DetectionListenerFramingTest, ::testing::ValuesIn(kFramingCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A message up to the limit is taken whole; one byte more without a "$" ends the connection
// and posts nothing of it.
TEST_F(DetectionListenerTest, MessageOfTheLimitIsPostedWholeAndOneByteMoreCloses) {
    const std::size_t limit = DetectionListener::kMaxMessageBytes;
    const std::string full = "Src@Store@" + std::string(limit - 11, 'p') + "@";
    ASSERT_EQ(full.size(), limit);

    SocketFd source = ConnectAndWait();
    ASSERT_TRUE(SendBytes(source.Get(), "Src@Ping@$" + full + "$Src@AckPing@$"));
    ASSERT_TRUE(WaitForMessages(3));
    EXPECT_EQ(MessageAt(1).text, full);
    EXPECT_EQ(MessageAt(2).text, "Src@AckPing@");

    recorder_.Clear();
    SendBytes(source.Get(), full + "p$Src@Ping@$");  // the listener may close while it is sent
    ASSERT_TRUE(WaitForEndedNotices(1));
    EXPECT_TRUE(WaitForPeerClose(source.Get()));
    recorder_.DeliverFor(50);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(DetectionListenerTest, TwoSourcesGetTheirOwnNoticesAndReplies) {
    SocketFd first = ConnectAndWait();
    SocketFd second = ConnectAndWait();
    ASSERT_TRUE(SendBytes(first.Get(), "One@Marker@x@1@$"));
    ASSERT_TRUE(WaitForMessages(1));
    ASSERT_TRUE(SendBytes(second.Get(), "Two@Marker@x@2@$"));
    ASSERT_TRUE(WaitForMessages(2));
    ASSERT_NE(MessageAt(0).connection, MessageAt(1).connection);
    EXPECT_EQ(listener_->OpenConnectionCount(), 2);

    Reply(1, "Bag@AckMarker@2");
    Reply(0, "Bag@AckMarker@1");
    std::string toFirst, toSecond;
    EXPECT_TRUE(ReceiveAtLeast(first.Get(), toFirst, 16));
    EXPECT_TRUE(ReceiveAtLeast(second.Get(), toSecond, 16));
    EXPECT_EQ(toFirst + ReceiveFor(first.Get(), 50), "Bag@AckMarker@1$");
    EXPECT_EQ(toSecond + ReceiveFor(second.Get(), 50), "Bag@AckMarker@2$");

    first.Close();
    ASSERT_TRUE(WaitForEndedNotices(1));
    EXPECT_EQ(listener_->OpenConnectionCount(), 1);
    ASSERT_TRUE(SendBytes(second.Get(), "Two@Ping@$"));
    ASSERT_TRUE(WaitForMessages(3));
    second.Close();
    ASSERT_TRUE(WaitForEndedNotices(2));
    EXPECT_EQ(Notices(), (std::vector<std::intptr_t>{kConnected, kConnected, kEnded, kEnded}));
}

// The descriptor number of an ended connection is soon handed to a new one: a late reply must
// not follow it there. The new sources' sockets exist before the first connection ends, so the
// freed number goes to an accepted connection (the one after the next, as a blocked accept has
// already reserved a number for the next).
TEST_F(DetectionListenerTest, ReplyToAnEndedConnectionIsDroppedEvenWhenAnotherTakesItsPlace) {
    SocketFd gone = ConnectAndWait();
    std::vector<SocketFd> newcomers;
    for (int i = 0; i < 2; ++i) newcomers.push_back(test::NewTcpSocket());
    ASSERT_TRUE(SendBytes(gone.Get(), "Src@Ping@$$"));
    ASSERT_TRUE(WaitForMessages(1));
    ASSERT_TRUE(WaitForEndedNotices(1));

    for (const SocketFd& newcomer : newcomers) {
        ASSERT_TRUE(test::ConnectSocketToLoopback(newcomer, listener_->ListeningPort()));
        const std::size_t notices = Notices().size();
        ASSERT_TRUE(recorder_.WaitUntil([&] { return Notices().size() > notices; }));
    }
    Reply(0, "Bag@GetInfo@");
    for (const SocketFd& newcomer : newcomers) EXPECT_EQ(ReceiveFor(newcomer.Get(), 100), "");
}

TEST_F(DetectionListenerTest, EmptyReplySendsNothingNotEvenTheDollar) {
    SocketFd source = ConnectAndWait();
    ASSERT_TRUE(SendBytes(source.Get(), "Src@AckPong@$"));
    ASSERT_TRUE(WaitForMessages(1));
    Reply(0, "");
    Reply(0, "Bag@GetInfo@");
    std::string received;
    ASSERT_TRUE(ReceiveAtLeast(source.Get(), received, 13));
    EXPECT_EQ(received + ReceiveFor(source.Get(), 50), "Bag@GetInfo@$");
}

TEST_F(DetectionListenerTest, CloseAllClosesEveryConnectionAndCountsThem) {
    std::vector<SocketFd> sources;
    for (int i = 0; i < 3; ++i) sources.push_back(ConnectAndWait());
    ASSERT_EQ(listener_->OpenConnectionCount(), 3);

    EXPECT_EQ(listener_->CloseAllSourceConnections(), 3);
    ASSERT_TRUE(WaitForEndedNotices(3));
    for (const SocketFd& source : sources) EXPECT_TRUE(WaitForPeerClose(source.Get()));
    EXPECT_EQ(listener_->OpenConnectionCount(), 0);
    EXPECT_EQ(listener_->CloseAllSourceConnections(), 0);

    // The listener still takes new sources.
    SocketFd later = ConnectAndWait();
    ASSERT_TRUE(SendBytes(later.Get(), "Src@Ping@$"));
    EXPECT_TRUE(WaitForMessages(1));
}

TEST_F(DetectionListenerTest, DestructionEndsConnectionsAndThreadsWithoutFurtherNotices) {
    SocketFd first = ConnectAndWait();
    SocketFd second = ConnectAndWait();
    ASSERT_TRUE(SendBytes(first.Get(), "Src@Sto"));
    listener_.reset();
    EXPECT_TRUE(WaitForPeerClose(first.Get(), 1000));
    EXPECT_TRUE(WaitForPeerClose(second.Get(), 1000));
    recorder_.DeliverFor(50);
    EXPECT_EQ(Notices(), (std::vector<std::intptr_t>{kConnected, kConnected}));
}

// Without a listener nothing is sent or closed, and the failure is shown once.
class DetectionListenerPortInUseTest : public ::testing::TestWithParam<bool> {};

TEST_P(DetectionListenerPortInUseTest, ShowsTheBindErrorAndRunsWithoutListener) {
    const bool occupantReusesAddress = GetParam();
    SocketFd occupant = test::ListenOnLoopback(0, 16, occupantReusesAddress);
    ASSERT_TRUE(occupant.IsOpen());

    std::vector<std::string> errors;
    DetectionListener listener([&](const std::string& text) { errors.push_back(text); });
    ListenerStartFailure failure;
    EXPECT_EQ(listener.StartDetectionListener(test::LocalPort(occupant.Get()), &failure), -1);
    EXPECT_EQ(errors, std::vector<std::string>{"Error calling bind()"});
    EXPECT_EQ(failure.step, ListenerStartFailure::Step::Bind);
    EXPECT_EQ(failure.error, EADDRINUSE);
    EXPECT_FALSE(listener.IsListening());
    EXPECT_EQ(listener.CloseAllSourceConnections(), 0);
    MyLapsMessage message(1, "Src@Ping@");
    message.reply = "Bag@GetInfo@";
    listener.SendMyLapsReply(message);  // must neither crash nor block
}

INSTANTIATE_TEST_SUITE_P(Occupants, DetectionListenerPortInUseTest, ::testing::Bool(),
                         [](const auto& info) {
                             return std::string(info.param ? "Reusing" : "Plain");
                         });

TEST(DetectionListenerStartTest, PortOutOfRangeShowsTheBindError) {
    for (int port : {-1, 65536}) {
        std::vector<std::string> errors;
        DetectionListener listener([&](const std::string& text) { errors.push_back(text); });
        ListenerStartFailure failure;
        EXPECT_EQ(listener.StartDetectionListener(port, &failure), -1) << port;
        EXPECT_EQ(errors, std::vector<std::string>{"Error calling bind()"}) << port;
        EXPECT_EQ(failure.step, ListenerStartFailure::Step::Bind) << port;
        EXPECT_EQ(failure.error, EINVAL) << port;
    }
}

// Connections the listener closed itself linger in TIME_WAIT; a restarted program must still
// be able to listen on its port.
TEST_F(DetectionListenerTest, RestartOnTheSamePortWhileClosedConnectionsLinger) {
    const int port = listener_->ListeningPort();
    for (int i = 0; i < 2; ++i) {
        SocketFd source = ConnectAndWait();
        ASSERT_TRUE(SendBytes(source.Get(), "$"));
        ASSERT_TRUE(WaitForPeerClose(source.Get()));
    }
    ASSERT_TRUE(WaitForEndedNotices(2));
    listener_.reset();

    DetectionListener restarted([this](const std::string& text) { errors_.push_back(text); });
    EXPECT_EQ(restarted.StartDetectionListener(port), 0);
    EXPECT_TRUE(errors_.empty());
}

}  // namespace
}  // namespace torvane
