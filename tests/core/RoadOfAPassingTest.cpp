#include <gtest/gtest.h>

#include <algorithm>

#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "host/LinkSupervisor.h"
#include "support/CoreHarness.h"
#include "support/LoopbackPeer.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::TcpClient;
using test::TcpServer;
using test::WaitUntil;

// A 39-character decoder record: chip, time, unused fields, date YYMMDD, checksum.
std::string Record(const std::string& chip, const std::string& time) {
    return chip + time + std::string(12, '0') + "261208" + "00";
}

std::string ResultAnswer(int bib, const std::string& last, const std::string& first, int code) {
    return "RES:1\\a\\b\\1\\0.0\\t5\\t6\\3\\2\\1\\" + std::to_string(bib) + "\\" + first + "\\" +
           last + "\\M40\\Club\\t15\\t16\\00:42:10\\t18\\" + std::to_string(code) + "\n";
}

// The whole road: a source connects, the host link opens, the queries follow, a "Store"
// reaches the host as detections before its acknowledgement, and the answers fill the summary.
TEST(RoadOfAPassingTest, FromTheSourceToTheHostAndBackIntoTheSummary) {
    clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 12, 0, 0), 0});
    TcpServer host;
    CoreHarness harness;
    WriteIniString("Ostrak", "Host", "127.0.0.1");
    WriteIniInt("Ostrak", "Port", host.Port());
    harness.core().LoadGeneralSettings();
    harness.core().State().flowOpen = true;
    harness.core().Logs().SetWindowLevel(100);
    DagTableEmpty();
    {
        CDagTableLocker lock;
        DagTableAdd("KV00007", 7);
        DagTableAdd("KV00008", 8);
    }
    ASSERT_EQ(harness.core().StartListener(0), 0);

    TcpClient source(harness.core().Listener().ListeningPort());
    ASSERT_TRUE(host.WaitForConnection());
    ASSERT_TRUE(WaitUntil(
        [&] { return harness.core().State().hostLinkState == HostLinkState::Connected; }));
    EXPECT_EQ(harness.status.balloons.back().text, "Connexion Ostrak - MyLaps effectuée");
    harness.timers.Advance(300);
    ASSERT_TRUE(host.WaitForLines(7));
    EXPECT_EQ(host.Lines().front(), "GetMode()");

    ASSERT_TRUE(source.Send("Loop1@Store@" + Record("KV00007", "12:01:02.345") + "@" +
                            Record("KV00008", " 12:01:03.4") + "@" +
                            Record("ZZ00001", "12:01:04.000") + "@5@$"));
    ASSERT_TRUE(source.WaitFor("Bag@AckStore@5$"));
    // Everything the host was sent before the acknowledgement left is there already.
    ASSERT_TRUE(host.WaitForLines(10));
    const auto lines = host.Lines();
    EXPECT_EQ(lines[7], "AddDagClock(1\tLoop1\t7\t1\t12:01:02.34)");
    EXPECT_EQ(lines[8], "AddDagClock(1\tLoop1\t8\t1\t12:01:03.40)");
    EXPECT_EQ(lines[9], "AddDagClock(1\tLoop1\tZZ00001\t1\t12:01:04.00)");

    // Listed, and logged as sent, before the acknowledgement was logged as sent.
    ASSERT_TRUE(WaitUntil([&] { return harness.DetectionLines().size() == 3; }));
    EXPECT_EQ(harness.DetectionLines(),
              (std::vector<std::string>{"12:01:02.34    KV00007   n°007",
                                        "12:01:03.40    KV00008   n°008",
                                        "12:01:04.00    ZZ00001   n° ???"}));
    ASSERT_TRUE(WaitUntil([&] {
        const auto shown = harness.ShownLog();
        return std::find(shown.begin(), shown.end(), ">>> MYLAPS: Bag@AckStore@5") != shown.end();
    }));
    {
        const auto shown = harness.ShownLog();
        const auto at = [&](const std::string& line) {
            return std::find(shown.begin(), shown.end(), line) - shown.begin();
        };
        const auto first = at(">>> Ostrak: AddDagClock(1 Loop1 7 1 12:01:02.34)");
        const auto last = at(">>> Ostrak: AddDagClock(1 Loop1 ZZ00001 1 12:01:04.00)");
        const auto ack = at(">>> MYLAPS: Bag@AckStore@5");
        EXPECT_LT(first, last);
        EXPECT_LT(last, ack);
    }

    // The source leaves before the host has answered: the link waits for the answers.
    source.Close();
    ASSERT_TRUE(WaitUntil([&] { return harness.timers.IsTimerActive(kHostLingerTimer); }));
    ASSERT_TRUE(host.Send("NFO:5 Marathon de Lyon\n" + ResultAnswer(7, "Martin", "Anne", 3) +
                          ResultAnswer(8, "Durand", "Paul", -5)));
    auto& summary = harness.core().Lists().summary;
    ASSERT_TRUE(WaitUntil([&] { return summary.Count() == 2; }));
    EXPECT_EQ(summary.Item(0).bib, 7);
    EXPECT_EQ(summary.Item(0).name, "Martin Anne                   ");
    EXPECT_EQ(summary.Item(0).errorFlag, 0);
    EXPECT_EQ(summary.Item(0).status, "3ème - 1er M40 - 2ème Club");
    EXPECT_EQ(summary.Item(1).status, "Coureur inconnu");
    EXPECT_EQ(summary.Item(1).errorFlag, 1);
    // The log lines of the answers are posted: they may arrive after the rows.
    const auto logged = [&](const std::string& line) {
        const auto log = harness.ShownLog();
        return std::find(log.begin(), log.end(), line) != log.end();
    };
    EXPECT_TRUE(WaitUntil([&] { return logged("$$$ Nom de la compétition: Marathon de Lyon"); }));
    EXPECT_TRUE(WaitUntil([&] { return logged("------------------------ Coureur inconnu"); }));

    // Then it closes.
    harness.timers.Advance(LinkSupervisor::kHostLingerMs);
    ASSERT_TRUE(WaitUntil(
        [&] { return harness.core().State().hostLinkState == HostLinkState::Disconnected; }));
    EXPECT_EQ(harness.core().State().myLapsLinkState, MyLapsLinkState::Waiting);
    EXPECT_FALSE(harness.timers.IsTimerActive(kReconnectTimer));
    DagTableEmpty();
    clock::UseSystemClock();
}

}  // namespace
}  // namespace torvane
