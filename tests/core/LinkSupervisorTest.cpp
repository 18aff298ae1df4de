#include <gtest/gtest.h>

#include <algorithm>

#include "base/SettingsStore.h"
#include "host/LinkStatusTable.h"
#include "support/CoreHarness.h"
#include "support/LoopbackPeer.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;
using test::TcpServer;
using test::WaitUntil;

class LinkSupervisorTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteIniString("Ostrak", "Host", "127.0.0.1");
        WriteIniInt("Ostrak", "Port", host.Port());
        harness.core().LoadGeneralSettings();
        state().flowOpen = true;
    }
    RunningState& state() { return harness.core().State(); }
    LinkSupervisor& supervisor() { return harness.core().Supervisor(); }
    void Notice(int notice) {
        supervisor().OnHostNotice(notice);
        DeliverPosted();
    }

    TcpServer host;
    CoreHarness harness;
};

TEST_F(LinkSupervisorTest, NoticesMoveTheHostStateAndAreLogged) {
    Notice(1);
    EXPECT_EQ(state().hostLinkState, HostLinkState::Connecting);
    Notice(2);
    EXPECT_EQ(state().hostLinkState, HostLinkState::Connected);
    EXPECT_TRUE(harness.timers.IsTimerActive(kQueryTimer));
    Notice(3);
    EXPECT_EQ(state().hostLinkState, HostLinkState::Disconnected);
    Notice(7);
    EXPECT_EQ(state().hostLinkState, HostLinkState::Disconnected);
    EXPECT_EQ(harness.ShownLog(),
              (std::vector<std::string>{"+ Tentative de Connexion Directe à Ostrak Pro",
                                        "+ Connexion Directe à Ostrak Pro effectuée avec succès",
                                        "+ Déconnecté de Ostrak Pro"}));
}

TEST_F(LinkSupervisorTest, QueryBurstGoesOutOnceThreeHundredMsAfterTheConnection) {
    harness.core().Host().StartHostLink("127.0.0.1", host.Port(), 1);
    ASSERT_TRUE(host.WaitForConnection());
    ASSERT_TRUE(WaitUntil([&] { return state().hostLinkState == HostLinkState::Connected; }));
    harness.timers.Advance(299);
    EXPECT_EQ(host.ReadForLines(0), 0u);
    harness.timers.Advance(1);
    ASSERT_TRUE(host.WaitForLines(7));
    EXPECT_EQ(host.Lines(),
              (std::vector<std::string>{"GetMode()", "GetUserName()", "GetCompetitionName()",
                                        "GetFilename()", "GetVersion()", "GetPrintableVersion()",
                                        "GetDetectorList()"}));
    EXPECT_FALSE(harness.timers.IsTimerActive(kQueryTimer));
    harness.core().Host().StopHostLink();
}

TEST_F(LinkSupervisorTest, AConnectionLostWithinThreeHundredMsGetsNoQueries) {
    Notice(2);
    Notice(3);
    harness.timers.Advance(300);
    EXPECT_FALSE(harness.timers.IsTimerActive(kQueryTimer));
    EXPECT_FALSE(host.HasConnection());
}

TEST_F(LinkSupervisorTest, ReconnectionComesTenSecondsAfterTheLastLossWhileASourceIsConnected) {
    state().myLapsLinkState = MyLapsLinkState::Connected;
    harness.timers.Advance(4000);
    Notice(3);
    harness.timers.Advance(5000);
    Notice(3);
    harness.timers.Advance(9999);
    EXPECT_FALSE(harness.core().Host().IsRunning());
    harness.timers.Advance(1);
    EXPECT_TRUE(harness.core().Host().IsRunning());
    EXPECT_EQ(state().hostLinkState, HostLinkState::Connecting);
    EXPECT_TRUE(host.WaitForConnection());
    harness.core().Host().StopHostLink();
}

TEST_F(LinkSupervisorTest, NoReconnectionWithoutASourceOrWhileTheLinkIsComingBack) {
    Notice(3);
    EXPECT_FALSE(harness.timers.IsTimerActive(kReconnectTimer));

    state().myLapsLinkState = MyLapsLinkState::Connected;
    Notice(3);
    Notice(1);  // something else restarted the link meanwhile
    harness.timers.Advance(10000);
    EXPECT_FALSE(harness.core().Host().IsRunning());
}

TEST_F(LinkSupervisorTest, AnnouncementsComeOnlyWithNoticesAndOnlyForTheTwoRowsThatHaveThem) {
    state().myLapsLinkState = MyLapsLinkState::Waiting;
    Notice(3);
    ASSERT_EQ(harness.status.balloons.size(), 1u);
    EXPECT_EQ(harness.status.balloons[0].text, "Déconnexion Ostrak - MyLaps");
    EXPECT_EQ(harness.status.sounds, (std::vector<int>{163}));

    state().myLapsLinkState = MyLapsLinkState::Connected;
    Notice(2);
    ASSERT_EQ(harness.status.balloons.size(), 2u);
    EXPECT_EQ(harness.status.balloons[1].text, "Connexion Ostrak - MyLaps effectuée");
    EXPECT_EQ(harness.status.balloons[1].iconId, 134);
    EXPECT_EQ(harness.status.sounds, (std::vector<int>{163, 132}));

    harness.core().SetFlowOpen(false);
    harness.core().SetFlowOpen(true);
    EXPECT_EQ(harness.status.balloons.size(), 2u);
    EXPECT_EQ(harness.status.trayIcon, 134);
}

TEST_F(LinkSupervisorTest, ClosingTheFlowChangesIconAndTipAtOnce) {
    harness.core().SetFlowOpen(false);
    EXPECT_EQ(harness.status.trayIcon, 141);
    EXPECT_EQ(harness.status.trayTip,
              "Déconnecté de Ostrak\nEn attente de connexion MyLaps\nFlux des détections fermé");
    EXPECT_TRUE(harness.status.balloons.empty());
    EXPECT_TRUE(harness.status.sounds.empty());
}

TEST_F(LinkSupervisorTest, TheInsertButtonFollowsTheLinks) {
    supervisor().RefreshButtons();
    EXPECT_EQ(harness.status.insertEnabled, false);
    Notice(1);
    EXPECT_EQ(harness.status.insertEnabled, true);
    Notice(3);
    EXPECT_EQ(harness.status.insertEnabled, false);
}

TEST(LinkStatusTableTest, EveryRowHasItsIconTipAndAnnouncement) {
    struct Row {
        bool open;
        int host, myLaps, icon;
        const char* tip;
        int sound;
    } rows[] = {
        {true, 0, 0, 132, "Déconnecté de Ostrak\nEn attente de connexion MyLaps", 163},
        {true, 0, 2, 133, "Déconnecté de Ostrak\nConnecté à MyLaps", 0},
        {true, 1, 0, 0, "Connexion à Ostrak en cours\nEn attente de connexion MyLaps", 0},
        {true, 1, 2, 130, "Connexion à Ostrak en cours\nConnecté à MyLaps", 0},
        {true, 2, 0, 131, "Connecté à Ostrak\nEn attente de connexion MyLaps", 0},
        {true, 2, 2, 134, "Connecté à Ostrak\nConnecté à MyLaps", 132},
        {false, 0, 0, 141,
         "Déconnecté de Ostrak\nEn attente de connexion MyLaps\nFlux des détections fermé", 163},
        {false, 0, 2, 142, "Déconnecté de Ostrak\nConnecté à MyLaps\nFlux des détections fermé", 0},
        {false, 1, 0, 0,
         "Connexion à Ostrak en cours\nEn attente de connexion MyLaps\nFlux des détections fermé",
         0},
        {false, 1, 2, 140,
         "Connexion à Ostrak en cours\nConnecté à MyLaps\nFlux des détections fermé", 0},
        {false, 2, 0, 143,
         "Connecté à Ostrak\nEn attente de connexion MyLaps\nFlux des détections fermé", 0},
        {false, 2, 2, 144, "Connecté à Ostrak\nConnecté à MyLaps\nFlux des détections fermé", 132},
    };
    for (const Row& row : rows) {
        const auto found = FindLinkStatusRow(row.open, static_cast<HostLinkState>(row.host),
                                             static_cast<MyLapsLinkState>(row.myLaps));
        ASSERT_TRUE(found);
        EXPECT_EQ(found->iconId, row.icon) << row.tip;
        EXPECT_EQ(found->tip, row.tip);
        EXPECT_EQ(found->soundId, row.sound) << row.tip;
        EXPECT_EQ(found->balloon.empty(), row.sound == 0) << row.tip;
    }
    EXPECT_EQ(
        FindLinkStatusRow(false, HostLinkState::Connected, MyLapsLinkState::Connected)->balloon,
        "Connexion Ostrak - MyLaps effectuée\nMais le flux des détections est fermé.");
    EXPECT_FALSE(FindLinkStatusRow(true, static_cast<HostLinkState>(3), MyLapsLinkState::Waiting));
    EXPECT_FALSE(
        FindLinkStatusRow(true, HostLinkState::Disconnected, static_cast<MyLapsLinkState>(1)));
}

}  // namespace
}  // namespace torvane
