// "Passing" messages from a source on loopback, through the program to a host on loopback: the
// acknowledgement bytes, the detections the host receives and the operator's log lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "net/DetectionListener.h"
#include "support/CoreHarness.h"
#include "support/LoopbackPeer.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::TcpClient;
using test::TcpServer;
using test::WaitUntil;

// On 8 December 2026 (the first race day), with the flow open and the host link up.
class PassingExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 12, 0, 0), 0});
        WriteIniString("Ostrak", "Host", "127.0.0.1");
        WriteIniInt("Ostrak", "Port", host.Port());
        harness.core().LoadGeneralSettings();
        harness.core().State().flowOpen = true;
        harness.core().Logs().SetWindowLevel(100);
        DagTableEmpty();
        {
            CDagTableLocker lock;
            DagTableAdd("KV7", 7);
        }
        ASSERT_EQ(harness.core().StartListener(0), 0);
        ASSERT_TRUE(source.Connect(harness.core().Listener().ListeningPort()));
        ASSERT_TRUE(host.WaitForConnection());
        ASSERT_TRUE(WaitUntil(
            [&] { return harness.core().State().hostLinkState == HostLinkState::Connected; }));
    }
    void TearDown() override {
        DagTableEmpty();
        clock::UseSystemClock();
    }

    bool Shown(const std::string& line) const {
        const auto log = harness.ShownLog();
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    long CountShown(const std::string& prefix) const {
        const auto log = harness.ShownLog();
        return std::count_if(log.begin(), log.end(),
                             [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    }
    // Sends `message` and returns the host lines it gives, once `reply` has come back whole.
    std::vector<std::string> Exchange(const std::string& message, const std::string& reply,
                                      std::size_t hostLineCount) {
        const std::size_t before = host.Lines().size();
        source.received.clear();
        EXPECT_TRUE(source.Send(message));
        EXPECT_TRUE(source.WaitFor(reply)) << message << " got " << source.received;
        EXPECT_EQ(source.received, reply) << message;
        EXPECT_TRUE(host.WaitForLines(before + hostLineCount)) << message;
        const auto lines = host.Lines();
        return {lines.begin() + static_cast<long>(std::min(before, lines.size())), lines.end()};
    }

    TcpServer host;
    CoreHarness harness;
    TcpClient source;
};

struct VectorCase {
    const char* name;
    std::string message;
    std::string reply;
    std::vector<std::string> hostLines;
    std::vector<std::string> logLines;
};

void PrintTo(const VectorCase& c, std::ostream* out) {
    *out << c.name;
}

class PassingVectorTest : public PassingExchangeTest,
                          public ::testing::WithParamInterface<VectorCase> {};

TEST_P(PassingVectorTest, AcknowledgesAndForwardsEveryPassing) {
    const VectorCase& c = GetParam();
    EXPECT_EQ(Exchange(c.message, c.reply, c.hostLines.size()), c.hostLines);
    for (const std::string& line : c.logLines)
        EXPECT_TRUE(WaitUntil([&] { return Shown(line); })) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, PassingVectorTest,
    ::testing::Values(
        VectorCase{
            "TwoDecoderRecords",
            "10KM@Passing@t=13:11:30.904|c=0000041|ct=UH|d=120606|l=13|dv=4|re=0|an=00001111|"
            "g=0|b=41|n=41@t=13:12:21.830|c=0000039|ct=UH|d=120606|l=30|dv=4|re=0|an=00001101|"
            "g=0|b=39|n=39@1016@$",
            "Bag@AckPassing@1016@$",
            {"AddDagClock(1\t10KM\t0000041\t1\t13:11:30.90)",
             "AddDagClock(1\t10KM\t0000039\t1\t13:12:21.83)"},
            {"<<< MYLAPS: 10KM   Passing   0000041   13:11:30.904",
             "<<< MYLAPS: 10KM   Passing   0000039   13:12:21.830",
             "### Attention: Incompatibilité de date boîtier (20120606) / ordinateur (20261208) !",
             ">>> MYLAPS: Bag@AckPassing@1016@"}},
        VectorCase{"SixDecimalsAndAOneCharacterChip",
                   "vm-14292@Passing@c=41AA06C|t=23:00:17.105920|d=261208@c=2|t=23:00:17.105920|"
                   "d=261208@c=41AA224|t=23:00:17.105920|d=261208@2@$",
                   "Bag@AckPassing@2@$",
                   {"AddDagClock(1\tvm-14292\t41AA06C\t1\t23:00:17.10)",
                    "AddDagClock(1\tvm-14292\t2\t1\t23:00:17.10)",
                    "AddDagClock(1\tvm-14292\t41AA224\t1\t23:00:17.10)"},
                   {"<<< MYLAPS: vm-14292   Passing   2   23:00:17.105920"}},
        VectorCase{"Marker",
                   "Finish@Marker@t=11:03:40.347|mt=Gunshot|n=Gunshot 1@4@$",
                   "Bag@AckMarker@4$",
                   {},
                   {"<<< MYLAPS: Src:Finish Cmd:Marker "}},
        VectorCase{
            "DatesChipTableAndALongChip",
            "Src@Passing@c=KV7|t=10:00:00.000@c=N1|t=10:00:01.000|d=261209@"
            "c=E200001D5B0C0123456789AB|t=9:00:00.5@5@$",
            "Bag@AckPassing@5@$",
            {"AddDagClock(1\tSrc\t7\t1\t10:00:00.00)", "AddDagClock(1\tSrc\tN1\t1\t34:00:01.00)",
             "AddDagClock(1\tSrc\tE200001D5B0C0123456789AB\t1\t09:00:00.50)"},
            {"<<< MYLAPS: Src   Passing   E200001D5B0C0123456789AB   9:00:00.5"}},
        VectorCase{"LeadingBlankInTheNumber",
                   "Src@Passing@c=A|t=10:00:00.000@ 7@$",
                   "Bag@AckPassing@ 7@$",
                   {"AddDagClock(1\tSrc\tA\t1\t10:00:00.00)"},
                   {}},
        VectorCase{"NoRecordAndAnEmptyFieldAfterTheNumber",
                   "Src@Passing@8@@$",
                   "Bag@AckPassing@8@$",
                   {},
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A message's unusable records are told in one line with their count, whatever their number,
// and the message is acknowledged.
TEST_F(PassingExchangeTest, UnusableRecordsAreToldInOneLinePerMessageAndTheMessageAcknowledged) {
    const auto lines = Exchange(
        "Src@Passing@c=A1|t=10:00:00.000@t=10:00:00.000@c=B2@c=C3|t=later@@"
        "c=D4|t=10:00:01.000@33@$",
        "Bag@AckPassing@33@$", 2);
    EXPECT_EQ(lines, (std::vector<std::string>{"AddDagClock(1\tSrc\tA1\t1\t10:00:00.00)",
                                               "AddDagClock(1\tSrc\tD4\t1\t10:00:01.00)"}));
    ASSERT_TRUE(WaitUntil([&] { return Shown(">>> MYLAPS: Bag@AckPassing@33@"); }));
    const std::string line =
        "$$$ Passage MyLaps sans puce ignoré : [t=10:00:00.000] (4 enregistrements de ce message "
        "refusés, le premier est montré)";
    EXPECT_TRUE(Shown(line));
    EXPECT_EQ(CountShown("$$$"), 1);
    EXPECT_EQ(CountShown("<<< MYLAPS: Src   Passing"), 2);
    EXPECT_TRUE(harness.LogFile().find(line) != std::string::npos);

    // A message of thousands of fixed-width records with a bad time: one line for all of them.
    std::string store = "Src@Store@";
    for (int n = 0; n < 3000; ++n) store += "KV" + std::to_string(10000 + n) + "xxxxxxxxxxxx@";
    Exchange(store + "34@$", "Bag@AckStore@34$", 0);
    ASSERT_TRUE(WaitUntil([&] { return Shown(">>> MYLAPS: Bag@AckStore@34"); }));
    EXPECT_TRUE(
        Shown("$$$ Chrono MyLaps (milli) invalide : xxxxxxxxxxxx (3000 enregistrements "
              "de ce message refusés, le premier est montré)"));
    EXPECT_EQ(CountShown("$$$"), 2);
}

// Every copy is acknowledged, and the journal keeps the host from getting the passing twice.
TEST_F(PassingExchangeTest, EveryCopyOfAResentMessageIsAcknowledgedAndForwardedOnce) {
    const std::string message = "\r\nSrc@Passing@c=A|t=10:00:00.000@12@$\r\n";
    const std::string reply = "Bag@AckPassing@12@$";
    EXPECT_EQ(Exchange(message + message, reply + reply, 1).size(), 1u);
    EXPECT_EQ(host.ReadForLines(200), 1u);
    EXPECT_EQ(CountShown("<<< MYLAPS: Src   Passing   A   10:00:00.000"), 1);
    EXPECT_TRUE(WaitUntil([&] {
        return CountShown(
                   "<<< MYLAPS: Src renvoie un passage déjà reçu, non transmis : "
                   "c=A|t=10:00:00.000") == 1;
    }));
}

TEST_F(PassingExchangeTest, AMessageOfTheLongestLengthIsReadWhole) {
    const std::string head = "Src@Passing@c=A|n=";
    const std::string tail = "|t=10:00:00.000@c=B|t=10:00:01.000@77@";
    const std::string filler(DetectionListener::kMaxMessageBytes - head.size() - tail.size(), 'z');
    EXPECT_EQ(Exchange(head + filler + tail + "$", "Bag@AckPassing@77@$", 2),
              (std::vector<std::string>{"AddDagClock(1\tSrc\tA\t1\t10:00:00.00)",
                                        "AddDagClock(1\tSrc\tB\t1\t10:00:01.00)"}));
}

TEST_F(PassingExchangeTest, AMessageWithoutNumberIsAProtocolErrorWithoutReply) {
    ASSERT_TRUE(source.Send("Src@Passing@$"));
    EXPECT_TRUE(WaitUntil([&] { return Shown("$$$ Erreur de protocole MyLaps: Src@Passing@"); }));
    EXPECT_EQ(source.ReadFor(200), "");
}

}  // namespace
}  // namespace torvane
