#include <gtest/gtest.h>

#include <algorithm>

#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "host/LinkSupervisor.h"
#include "support/CoreHarness.h"
#include "support/LoopbackPeer.h"
#include "support/LoopbackSockets.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;
using test::MakePassing;
using test::TcpServer;
using test::WaitUntil;

std::string Line(const char* chip, const char* time) {
    return std::string("AddDagClock(1\tLoop1\t") + chip + "\t1\t" + time + ")";
}

// Detections made while the host is away wait in the journal and reach it, in order and once
// each, when it comes back; they leave the outbox once the host's TCP has them.
class OutboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 12, 0, 0), 0});
        WriteIniString("Ostrak", "Host", "127.0.0.1");
        WriteIniInt("Ostrak", "Port", host.Port());
        harness.core().LoadGeneralSettings();
        harness.core().State().flowOpen = true;
    }
    void TearDown() override {
        harness.core().Host().StopHostLink();
        clock::UseSystemClock();
    }
    void Pass(const char* chip, const char* time) {
        harness.core().Processor().ProcessPassing(MakePassing("Loop1", chip, time, "20261208"));
        harness.core().FlushJournal();
    }
    bool ConnectHost() {
        harness.core().Host().StartHostLink("127.0.0.1", host.Port(), 1);
        return host.WaitForConnection() && WaitUntil([&] {
                   return harness.core().State().hostLinkState == HostLinkState::Connected;
               });
    }
    bool Logged(const std::string& line) const {
        const auto log = harness.ShownLog();
        return std::find(log.begin(), log.end(), line) != log.end();
    }

    TcpServer host;
    CoreHarness harness;
};

TEST_F(OutboxTest, WaitingDetectionsGoFirstInOrderWhenTheHostComesBack) {
    Pass("AA00001", "12:00:01.000");
    Pass("AA00002", "12:00:02.000");
    Pass("AA00003", "12:00:03.000");
    EXPECT_EQ(harness.core().WaitingDetectionCount(), 3u);

    // With a source connected, the link stays up once the backlog has gone.
    harness.core().State().myLapsLinkState = MyLapsLinkState::Connected;
    ASSERT_TRUE(ConnectHost());
    harness.timers.Advance(300);
    ASSERT_TRUE(host.WaitForLines(10));
    const auto lines = host.Lines();
    EXPECT_EQ(lines[0], Line("AA00001", "12:00:01.00"));
    EXPECT_EQ(lines[1], Line("AA00002", "12:00:02.00"));
    EXPECT_EQ(lines[2], Line("AA00003", "12:00:03.00"));
    EXPECT_EQ(lines[3], "GetMode()");
    ASSERT_TRUE(WaitUntil([&] { return harness.core().WaitingDetectionCount() == 0; }));

    Pass("AA00004", "12:00:04.000");
    ASSERT_TRUE(host.WaitForLines(11));
    EXPECT_EQ(host.Lines()[10], Line("AA00004", "12:00:04.00"));
    EXPECT_EQ(host.ReadForLines(100), 11u);
    ASSERT_TRUE(WaitUntil([&] { return harness.core().WaitingDetectionCount() == 0; }));
    // The sent marks reach the file with the next commit, which a slow build may still run.
    std::string error;
    EXPECT_TRUE(WaitUntil([&] {
        harness.core().FlushJournal();
        return harness.core().PassingJournal().WaitingLinesFrom(1, 1000000, error).empty();
    }));
}

// A backlog larger than the window waits in the journal, is read a page at a time, and
// reaches the host whole and in order.
TEST_F(OutboxTest, ABacklogLargerThanTheWindowIsReadAPageAtATime) {
    const int count = static_cast<int>(Outbox::kWindowLines) * 2 + 500;
    for (int n = 1; n <= count; ++n) {
        char chip[16];
        std::snprintf(chip, sizeof chip, "AB%05d", n);
        harness.core().Processor().ProcessPassing(
            MakePassing("Loop1", chip, "12:00:01.000", "20261208"));
    }
    harness.core().FinishBurst();
    harness.Restart();
    EXPECT_EQ(harness.core().WaitingDetectionCount(), static_cast<std::size_t>(count));
    EXPECT_LE(harness.core().HostOutbox().Waiting().size(), Outbox::kWindowLines);

    harness.core().State().myLapsLinkState = MyLapsLinkState::Connected;
    ASSERT_TRUE(ConnectHost());
    ASSERT_TRUE(host.WaitForLines(static_cast<std::size_t>(count), 60000));
    const auto lines = host.Lines();
    for (int n = 1; n <= count; ++n) {
        char chip[16];
        std::snprintf(chip, sizeof chip, "AB%05d", n);
        ASSERT_EQ(lines[static_cast<std::size_t>(n - 1)], Line(chip, "12:00:01.00")) << n;
    }
    ASSERT_TRUE(WaitUntil([&] { return harness.core().WaitingDetectionCount() == 0; }));
}

TEST_F(OutboxTest, TheBacklogIsLoggedWhenItStartsToGrowAndWhenTheHostIsBack) {
    WriteIniInt("Ostrak", "Port", test::FreeLoopbackPort());  // the host is away
    Pass("AA00001", "12:00:01.000");
    Pass("AA00002", "12:00:02.000");
    ASSERT_TRUE(WaitUntil([&] {
        return Logged(
            "### Ostrak Pro n'est pas connecté : les détections l'attendent (2 pour l'instant)");
    }));
    harness.core().State().myLapsLinkState = MyLapsLinkState::Connected;
    ASSERT_TRUE(ConnectHost());
    DeliverPosted();
    EXPECT_TRUE(Logged("+++ Ostrak Pro est de retour : 2 détections en attente partent"));
}

TEST_F(OutboxTest, WithoutASourceTheLinkStopsOnceTheBacklogHasGone) {
    Pass("AA00001", "12:00:01.000");
    harness.core().Host().StartHostLink("127.0.0.1", host.Port(), 1);
    ASSERT_TRUE(host.WaitForLines(1));
    // It stays a moment for the host's answer, then closes.
    ASSERT_TRUE(WaitUntil([&] { return harness.timers.IsTimerActive(kHostLingerTimer); }));
    EXPECT_TRUE(harness.core().Host().IsRunning());
    harness.timers.Advance(LinkSupervisor::kHostLingerMs);
    ASSERT_TRUE(WaitUntil(
        [&] { return harness.core().State().hostLinkState == HostLinkState::Disconnected; }));
    EXPECT_FALSE(harness.timers.IsTimerActive(kReconnectTimer));
}

TEST_F(OutboxTest, RequestsOtherThanDetectionsAreNeitherQueuedNorJournaled) {
    EXPECT_FALSE(harness.core().Host().SendHostLine("Ping()"));
    EXPECT_EQ(harness.core().WaitingDetectionCount(), 0u);
}

TEST_F(OutboxTest, RecordingWithoutTransmissionSendsNothing) {
    harness.core().Dag().StartRecording(harness.folders.DataFolder() + "/x.dag");
    harness.core().State().alsoTransmit = false;
    Pass("AA00001", "12:00:01.000");
    EXPECT_EQ(harness.core().WaitingDetectionCount(), 0u);
}

// The host's loss while a source is connected is announced; its return, once the waiting
// detections have all gone, too, with their count.
TEST_F(OutboxTest, AHostLostWhileASourceIsConnectedIsAnnouncedAndItsReturnCounted) {
    ASSERT_TRUE(ConnectHost());
    harness.core().State().myLapsLinkState = MyLapsLinkState::Connected;
    host.DropConnection();
    ASSERT_TRUE(WaitUntil(
        [&] { return harness.core().State().hostLinkState == HostLinkState::Disconnected; }));
    ASSERT_FALSE(harness.status.balloons.empty());
    EXPECT_EQ(harness.status.balloons.back().text,
              "Ostrak Pro déconnecté : les détections sont gardées et seront envoyées au retour "
              "de la connexion.");
    EXPECT_EQ(harness.status.sounds.back(), 163);

    Pass("AA00001", "12:00:01.000");
    Pass("AA00002", "12:00:02.000");
    harness.timers.Advance(10000);  // the reconnection
    ASSERT_TRUE(host.WaitForConnection());
    ASSERT_TRUE(host.WaitForLines(2));
    ASSERT_TRUE(WaitUntil([&] { return harness.core().WaitingDetectionCount() == 0; }));
    EXPECT_EQ(harness.status.balloons.back().text,
              "Ostrak Pro est de retour : les 2 détections en attente ont été envoyées.");
}

TEST_F(OutboxTest, AFailedAttemptIsNotALoss) {
    harness.core().State().myLapsLinkState = MyLapsLinkState::Connected;
    harness.core().Supervisor().OnHostNotice(1);
    harness.core().Supervisor().OnHostNotice(3);
    for (const auto& balloon : harness.status.balloons) {
        EXPECT_EQ(balloon.text.find("Ostrak Pro déconnecté :"), std::string::npos);
    }
}

TEST_F(OutboxTest, TheWaitingCountIsShownAtTheTickAndInTheTip) {
    harness.core().StartRaceDayTimer();
    Pass("AA00001", "12:00:01.000");
    Pass("AA00002", "12:00:02.000");
    harness.timers.Advance(500);
    ASSERT_FALSE(harness.status.waitingShown.empty());
    EXPECT_EQ(harness.status.waitingShown.back(), 2u);
    EXPECT_NE(harness.status.trayTip.find("\n2 détections en attente"), std::string::npos);
}

}  // namespace
}  // namespace torvane
