#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

#include "base/Clock.h"
#include "base/PostedMessage.h"
#include "base/SettingsStore.h"
#include "host/LinkSupervisor.h"
#include "journal/SqliteDatabase.h"
#include "net/MyLapsMessage.h"
#include "support/CoreHarness.h"
#include "support/LoopbackPeer.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;
using test::MakePassing;
using test::TcpClient;
using test::TcpServer;
using test::WaitUntil;

// A Store record of chip KV0000n at 12:00:0n.000 on 8 December 2026.
std::string Record(int n) {
    return "KV0000" + std::to_string(n) + "12:00:0" + std::to_string(n) + ".000            261208";
}

std::string Store(const std::vector<int>& records, int token) {
    std::string text = "Loop1@Store@";
    for (int n : records) text += Record(n) + "@";
    return text + std::to_string(token) + "@$";
}

// A program with its journal, listening on a free port; the host is away unless a test says.
class JournalDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 12, 0, 0), 0});
        WriteIniString("Ostrak", "Host", "127.0.0.1");
        WriteIniInt("Ostrak", "Port", host.Port());
        host.StopListening();
        Start();
    }
    void TearDown() override { clock::UseSystemClock(); }
    void Start() {
        harness.core().LoadGeneralSettings();
        harness.core().State().flowOpen = true;
        harness.core().Logs().SetWindowLevel(100);
        ASSERT_EQ(harness.core().StartListener(0), 0);
        ASSERT_TRUE(source.Connect(harness.core().Listener().ListeningPort()));
        ASSERT_TRUE(WaitUntil(
            [&] { return harness.core().State().myLapsLinkState == MyLapsLinkState::Connected; }));
    }
    void Restart() {
        source.Close();
        harness.Restart();
        Start();
    }
    bool Shown(const std::string& line) const {
        const auto log = harness.ShownLog();
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    long ShownCount(const std::string& start) const {
        const auto log = harness.ShownLog();
        return std::count_if(log.begin(), log.end(),
                             [&](const std::string& line) { return line.rfind(start, 0) == 0; });
    }

    TcpServer host;
    CoreHarness harness;
    TcpClient source;
};

// Several Stores waiting together are journaled in one transaction, and acknowledged after it.
TEST_F(JournalDeliveryTest, StoresOfOneBurstShareOneCommit) {
    const std::size_t before = harness.core().PassingJournal().CommitCount();
    for (int token = 1; token <= 3; ++token) {
        PostToTarget(WM_MYLAPS_MESSAGE, 0,
                     std::make_unique<MyLapsMessage>(
                         0, Store({token}, token).substr(0, Store({token}, token).size() - 1)));
    }
    DeliverPostedMessages();
    ASSERT_TRUE(WaitUntil([&] { return !harness.core().PassingJournal().CommitInFlight(); }));
    EXPECT_EQ(harness.core().PassingJournal().CommitCount(), before + 1);
    EXPECT_EQ(harness.WaitingHostLines().size(), 3u);
    DeliverPosted();
    const auto log = harness.ShownLog();
    const auto lastPassing =
        std::find(log.rbegin(), log.rend(), "<<< MYLAPS: Loop1   Store   KV00003   12:00:03.000");
    const auto firstAck = std::find(log.begin(), log.end(), ">>> MYLAPS: Bag@AckStore@1");
    ASSERT_NE(lastPassing, log.rend());
    ASSERT_NE(firstAck, log.end());
    EXPECT_LT(lastPassing.base() - log.begin(), firstAck - log.begin());
}

// Commits run on the journal's thread and may end at any moment of the window thread's work:
// while one is held back, the window thread goes on and the next Store gathers, and no
// acknowledgement leaves before the passings it acknowledges are on disk.
TEST_F(JournalDeliveryTest, AnAcknowledgementNeverLeavesBeforeItsCommit) {
    const auto holding = std::make_shared<std::atomic<bool>>(true);
    harness.core().PassingJournal().SetCommitGateForTesting([holding] {
        while (*holding) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    const auto onDisk = [&] {
        SqliteDatabase reader;
        SqliteStatement count;
        std::string error;
        if (!reader.Open(harness.core().PassingJournal().Path(), error) ||
            !count.Prepare(reader, "SELECT COUNT(*) FROM passing", error) || !count.Step()) {
            return std::int64_t{-1};
        }
        return count.Int(0);
    };
    ASSERT_TRUE(source.Send(Store({1}, 1)));
    ASSERT_TRUE(WaitUntil([&] { return harness.DetectionLines().size() == 1; }));
    ASSERT_TRUE(source.Send(Store({2}, 2)));
    ASSERT_TRUE(WaitUntil([&] { return harness.DetectionLines().size() == 2; }));
    source.ReadFor(300);
    EXPECT_EQ(source.received, "");
    EXPECT_EQ(onDisk(), 0);

    *holding = false;
    ASSERT_TRUE(source.WaitFor("Bag@AckStore@1$Bag@AckStore@2$"));
    EXPECT_EQ(onDisk(), 2);
}

// A resent Store is acknowledged again, but nothing of it is forwarded, listed or recorded,
// also after a restart.
TEST_F(JournalDeliveryTest, AResentStoreIsAcknowledgedButForwardedOnce) {
    ASSERT_TRUE(source.Send(Store({1, 2}, 17)));
    ASSERT_TRUE(source.WaitFor("Bag@AckStore@17$"));
    source.received.clear();
    ASSERT_TRUE(source.Send(Store({1, 2}, 17)));
    ASSERT_TRUE(source.WaitFor("Bag@AckStore@17$"));
    EXPECT_EQ(harness.WaitingHostLines().size(), 2u);
    EXPECT_EQ(harness.DetectionLines().size(), 2u);
    ASSERT_TRUE(WaitUntil([&] {
        return ShownCount("<<< MYLAPS: Loop1 renvoie un passage déjà reçu, non transmis : ") == 2;
    }));

    Restart();
    ASSERT_TRUE(source.Send(Store({2, 3}, 18)));
    ASSERT_TRUE(source.WaitFor("Bag@AckStore@18$"));
    EXPECT_EQ(harness.WaitingHostLines(),
              (std::vector<std::string>{"AddDagClock(1\tLoop1\tKV00001\t1\t12:00:01.00)",
                                        "AddDagClock(1\tLoop1\tKV00002\t1\t12:00:02.00)",
                                        "AddDagClock(1\tLoop1\tKV00003\t1\t12:00:03.00)"}));
    EXPECT_EQ(harness.DetectionLines().size(), 1u);
}

// What an earlier run left waiting is counted at start-up and goes to the host, which the
// program connects to for it even with no source.
TEST_F(JournalDeliveryTest, WaitingLinesAreCountedAtStartUpAndSent) {
    ASSERT_TRUE(source.Send(Store({1, 2}, 5)));
    ASSERT_TRUE(source.WaitFor("Bag@AckStore@5$"));
    source.Close();
    TcpServer back;
    WriteIniInt("Ostrak", "Port", back.Port());
    harness.Restart();
    DeliverPosted();
    EXPECT_TRUE(Shown("+++ 2 détections en attente d'envoi à Ostrak Pro"));
    ASSERT_TRUE(back.WaitForLines(2));
    EXPECT_EQ(back.Lines()[0], "AddDagClock(1\tLoop1\tKV00001\t1\t12:00:01.00)");
    ASSERT_TRUE(WaitUntil([&] { return harness.core().WaitingDetectionCount() == 0; }));
    // No source: once they have gone and the host has had time to answer, the link closes.
    ASSERT_TRUE(WaitUntil([&] { return harness.timers.IsTimerActive(kHostLingerTimer); }));
    harness.timers.Advance(LinkSupervisor::kHostLingerMs);
    EXPECT_TRUE(WaitUntil(
        [&] { return harness.core().State().hostLinkState == HostLinkState::Disconnected; }));
}

// A journal that cannot be written withholds the acknowledgements, says so once, and takes
// everything when it can again; the source's resend is then acknowledged.
TEST_F(JournalDeliveryTest, AJournalThatCannotBeWrittenWithholdsTheAcknowledgements) {
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = saved;
    full.rlim_cur = 0;
    ::setrlimit(RLIMIT_FSIZE, &full);
    ASSERT_TRUE(source.Send(Store({1}, 1) + Store({2}, 2)));
    ASSERT_TRUE(WaitUntil([&] { return harness.DetectionLines().size() == 2; }));
    source.ReadFor(300);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(source.received, "");
    EXPECT_EQ(ShownCount("$$$ Écriture du journal des passages impossible ("), 1);
    // The detections went on to the outbox all the same.
    EXPECT_EQ(harness.WaitingHostLines().size(), 2u);

    ASSERT_TRUE(source.Send(Store({1}, 1)));
    ASSERT_TRUE(source.WaitFor("Bag@AckStore@1$"));
    EXPECT_TRUE(WaitUntil([&] {
        return Shown(
            "+++ Le journal des passages est de nouveau écrit : les passages sont "
            "acquittés (2 acquittements retenus)");
    }));
    EXPECT_EQ(harness.WaitingHostLines().size(), 2u);
}

}  // namespace
}  // namespace torvane
