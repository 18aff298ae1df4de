#include <gtest/gtest.h>

#include <algorithm>

#include "base/SettingsStore.h"
#include "intake/MyLapsProtocol.h"
#include "support/CoreHarness.h"
#include "support/LoopbackPeer.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::TcpClient;
using test::WaitUntil;

// A program listening on a free port, its host link pointed at a port where nothing listens.
class MyLapsExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteIniInt("Ostrak", "Port", 1);
        WriteIniString("Ostrak", "Host", "127.0.0.1");
        harness.core().LoadGeneralSettings();
        harness.core().Logs().SetWindowLevel(100);
        ASSERT_EQ(harness.core().StartListener(0), 0);
        ASSERT_TRUE(source.Connect(harness.core().Listener().ListeningPort()));
        ASSERT_TRUE(WaitUntil(
            [&] { return harness.core().State().myLapsLinkState == MyLapsLinkState::Connected; }));
    }

    bool Shown(const std::string& line) const {
        const auto log = harness.ShownLog();
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    bool WaitShown(const std::string& line) {
        return WaitUntil([&] { return Shown(line); });
    }

    CoreHarness harness;
    TcpClient source;
};

TEST_F(MyLapsExchangeTest, EachCommandGetsItsReply) {
    struct Case {
        const char* sent;
        const char* reply;
        const char* logLine;
    } cases[] = {
        {"Src@Ping@$", "Bag@GetInfo@$", "<<< MYLAPS: Src Ping"},
        {"Src@AckPing@$", "Bag@GetInfo@$", "<<< MYLAPS: Src AckPing"},
        {"Src@Marker@x@42@$", "Bag@AckMarker@42$", "<<< MYLAPS: Src:Src Cmd:Marker "},
        {"Src@Marker@x@43@@$", "Bag@AckMarker@43$", "<<< MYLAPS: Src:Src Cmd:Marker "},
        {"Src@Store@17@$", "Bag@AckStore@17$", ">>> MYLAPS: Bag@AckStore@17"},
        {"Src@Pong@$", "Bag@Ping@Bag@AckPong@$", "<<< MYLAPS: Src:Src Cmd:Pong"},
    };
    for (const Case& c : cases) {
        source.received.clear();
        ASSERT_TRUE(source.Send(c.sent));
        EXPECT_TRUE(source.WaitFor(c.reply)) << c.sent << " got " << source.received;
        EXPECT_TRUE(WaitShown(c.logLine)) << c.logLine;
        EXPECT_EQ(source.received, c.reply);
    }
}

TEST_F(MyLapsExchangeTest, AcknowledgementsAndInformationGetNoReply) {
    ASSERT_TRUE(source.Send("Src@AckPong@$Src@AckGetInfo@$Src@store@1@$"));
    EXPECT_TRUE(WaitShown("<<< MYLAPS: Src:Src Cmd:AckPong"));
    EXPECT_TRUE(WaitShown("<<< MYLAPS: Src:Src Cmd:AckGetInfo"));
    EXPECT_TRUE(WaitShown("Received: [Src@store@1@]"));
    EXPECT_EQ(source.ReadFor(200), "");
}

TEST_F(MyLapsExchangeTest, ProtocolErrorsAreLoggedWithoutReplyAndTheLinkStays) {
    ASSERT_TRUE(source.Send("lonefield$\r\n$"));
    EXPECT_TRUE(WaitShown("$$$ Erreur de protocole MyLaps: lonefield"));
    EXPECT_TRUE(WaitShown("$$$ Erreur de protocole MyLaps: <CR><LF>"));
    ASSERT_TRUE(source.Send("Src@Ping@$"));
    EXPECT_TRUE(source.WaitFor("Bag@GetInfo@$"));
    EXPECT_EQ(source.received, "Bag@GetInfo@$");
}

TEST_F(MyLapsExchangeTest, LineEndsBeforeTheSourceAreRemoved) {
    ASSERT_TRUE(source.Send("\r\nSrc@AckPing@$"));
    EXPECT_TRUE(source.WaitFor("Bag@GetInfo@$"));
    EXPECT_TRUE(WaitShown("<<< MYLAPS: Src AckPing"));
}

TEST_F(MyLapsExchangeTest, StorePassingsAreHandedOnBeforeTheAcknowledgement) {
    ASSERT_TRUE(source.Send("Src@Store@P1@P2@17@$"));
    ASSERT_TRUE(source.WaitFor("Bag@AckStore@17$"));
    ASSERT_TRUE(WaitShown(">>> MYLAPS: Bag@AckStore@17"));
    const auto log = harness.ShownLog();
    const auto position = [&](const std::string& line) {
        return std::find(log.begin(), log.end(), line) - log.begin();
    };
    const auto p1 = position("<<< MYLAPS: Src   Store   P1   ");
    const auto p2 = position("<<< MYLAPS: Src   Store   P2   ");
    const auto ack = position(">>> MYLAPS: Bag@AckStore@17");
    ASSERT_LT(p1, static_cast<long>(log.size()));
    EXPECT_LT(p1, p2);
    EXPECT_LT(p2, ack);
}

TEST_F(MyLapsExchangeTest, AnEmptyPassingDrawsTheDateWarningAndTheTimeErrorYetIsAcknowledged) {
    ASSERT_TRUE(source.Send("Src@Store@@17@$"));
    ASSERT_TRUE(source.WaitFor("Bag@AckStore@17$"));
    EXPECT_TRUE(WaitUntil([&] {
        const auto log = harness.ShownLog();
        return std::any_of(
                   log.begin(), log.end(),
                   [](const std::string& l) {
                       return l.rfind("### Attention: Incompatibilité de date boîtier (20) ", 0) ==
                              0;
                   }) &&
               std::find(log.begin(), log.end(), "$$$ Chrono MyLaps (milli) invalide : <LF>") !=
                   log.end();
    }));
}

TEST_F(MyLapsExchangeTest, AStoreWithoutTokenIsReportedAndNotAcknowledged) {
    ASSERT_TRUE(source.Send("Src@Store@$"));
    EXPECT_TRUE(WaitShown("$$$ Erreur de protocole MyLaps: Src@Store@"));
    EXPECT_EQ(source.ReadFor(200), "");
}

TEST_F(MyLapsExchangeTest, PingIsPassedToTheHostWhenItIsUp) {
    // No host here: the line is simply dropped, and the source is answered all the same.
    ASSERT_TRUE(source.Send("Src@Ping@$"));
    EXPECT_TRUE(source.WaitFor("Bag@GetInfo@$"));
}

TEST_F(MyLapsExchangeTest, ConnectionNoticesSetTheLinkStatesAndStoreTheHostSettings) {
    EXPECT_TRUE(WaitShown("+++ Connexion MyLaps"));
    EXPECT_EQ(harness.core().State().myLapsLinkState, MyLapsLinkState::Connected);
    EXPECT_EQ(ReadIniString("Ostrak", "Host", ""), "127.0.0.1");
    source.Close();
    EXPECT_TRUE(WaitUntil(
        [&] { return harness.core().State().myLapsLinkState == MyLapsLinkState::Waiting; }));
    EXPECT_TRUE(WaitShown("+++ Déconnexion MyLaps"));
}

TEST_F(MyLapsExchangeTest, TheLinkStaysUpUntilTheLastSourceLeaves) {
    TcpClient second(harness.core().Listener().ListeningPort());
    ASSERT_TRUE(WaitUntil([&] { return harness.core().State().connectedSources == 2; }));
    ASSERT_TRUE(second.Send("Two@Marker@9@$"));
    ASSERT_TRUE(source.Send("One@Marker@8@$"));
    EXPECT_TRUE(second.WaitFor("Bag@AckMarker@9$"));
    EXPECT_TRUE(source.WaitFor("Bag@AckMarker@8$"));
    EXPECT_EQ(second.received, "Bag@AckMarker@9$");
    EXPECT_EQ(source.received, "Bag@AckMarker@8$");

    second.Close();
    ASSERT_TRUE(WaitUntil([&] { return harness.core().State().connectedSources == 1; }));
    EXPECT_EQ(harness.core().State().myLapsLinkState, MyLapsLinkState::Connected);
    EXPECT_TRUE(harness.core().Host().IsRunning());
    source.Close();
    ASSERT_TRUE(WaitUntil(
        [&] { return harness.core().State().myLapsLinkState == MyLapsLinkState::Waiting; }));
}

TEST(MyLapsFieldsTest, SplitKeepsInnerEmptyFieldsAndDropsAnEmptyLastPart) {
    using Fields = std::vector<std::string>;
    EXPECT_EQ(MyLapsProtocol::SplitFields("Src@Store@@17@"), (Fields{"Src", "Store", "", "17"}));
    EXPECT_EQ(MyLapsProtocol::SplitFields("@Ping"), (Fields{"", "Ping"}));
    EXPECT_EQ(MyLapsProtocol::SplitFields("alone"), (Fields{"alone"}));
    EXPECT_EQ(MyLapsProtocol::SplitFields("a@@b@@"), (Fields{"a", "", "b", ""}));
    EXPECT_TRUE(MyLapsProtocol::SplitFields("").empty());
}

}  // namespace
}  // namespace torvane
