#include <gtest/gtest.h>

#include <regex>

#include "app/OperatorCommands.h"
#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "support/CoreHarness.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

using test::CoreHarness;

// The terminal's commands against a whole core; printed answers are collected.
class OperatorCommandsTest : public ::testing::Test {
protected:
    OperatorCommandsTest()
        : typed([this](const std::string& text) { printed.push_back(text); }),
          commands(
              harness.core(), typed, [this](const std::string& text) { printed.push_back(text); },
              [this] { ++quitCalls; }) {}

    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 15, 0, 0), 0});
        harness.core().LoadGeneralSettings();
        typed.AttachState(harness.core().State());
        // The typed input answers the core's manual-detection port, as in the headless program.
        harness.manual.delegate = &typed;
    }
    void TearDown() override { clock::UseSystemClock(); }

    // Inserting needs an active link, as the window's button does.
    void PretendSourceConnected() {
        harness.core().State().myLapsLinkState = MyLapsLinkState::Connected;
    }
    std::string Last() const { return printed.empty() ? "" : printed.back(); }

    CoreHarness harness;
    std::vector<std::string> printed;
    TypedManualDetection typed;
    OperatorCommands commands;
    int quitCalls = 0;
};

TEST_F(OperatorCommandsTest, StatusTellsLinksFlowDayTableDagAndHeldDetections) {
    ASSERT_EQ(harness.core().StartListener(0), 0);
    commands.Execute("status");
    const std::string status = Last();
    EXPECT_EQ(status.substr(0, status.rfind('\n')),
              "MyLaps : en attente de connexion\nOstrak Pro : déconnecté\nFlux des détections : "
              "fermé\nJours ajoutés : 0 (premier jour 20261208)\nTable de correspondance : 0 "
              "entrées\nFichier DAG : pas d'enregistrement\nTransmission pendant "
              "l'enregistrement : oui\nDétections en attente : 0");
    EXPECT_TRUE(
        std::regex_match(status.substr(status.rfind('\n') + 1),
                         std::regex("Journal de la course : commencé le \\d{4}-\\d\\d-\\d\\d "
                                    "\\d\\d:\\d\\d:\\d\\d, 0 passages, [1-9]\\d* octets")))
        << status;
}

TEST_F(OperatorCommandsTest, ClosingTheFlowAsksAndNoKeepsItOpen) {
    commands.Execute("open");
    EXPECT_TRUE(harness.core().State().flowOpen);
    EXPECT_TRUE(harness.dialogs.questions.empty());

    harness.dialogs.answers = {false};
    commands.Execute("close");
    EXPECT_TRUE(harness.core().State().flowOpen);
    EXPECT_EQ(harness.dialogs.questions.back(), "Etes vous sûr de fermer le flux des détections ?");

    harness.dialogs.answers = {true};
    commands.Execute("close");
    EXPECT_FALSE(harness.core().State().flowOpen);
    EXPECT_EQ(Last(), "Flux des détections fermé.");
    EXPECT_EQ(harness.status.trayIcon, 141);
}

TEST_F(OperatorCommandsTest, WordsThatAreNotCommandsAreAnsweredWithTheirUsage) {
    const std::pair<const char*, const char*> cases[] = {
        {"bogus", "Commande inconnue : bogus (help donne la liste des commandes)"},
        {"dag maybe", "Usage : dag on|off"},
        {"transmit", "Usage : transmit on|off"},
        {"level high", "Usage : level N"},
        {"disconnect", "Rien n'est connecté."},
        {"insert 12", "Aucune liaison active : insertion impossible."},
    };
    for (const auto& [line, answer] : cases) {
        commands.Execute(line);
        EXPECT_EQ(Last(), answer) << line;
    }
    commands.Execute("   ");
    EXPECT_EQ(printed.size(), std::size(cases));
}

TEST_F(OperatorCommandsTest, LevelTransmitAndQuit) {
    commands.Execute("level 75");
    EXPECT_EQ(harness.core().Logs().WindowLevel(), 75);
    EXPECT_EQ(ReadIniInt("Settings", "LogWinLevel", 0), 75);
    commands.Execute("transmit off");
    EXPECT_FALSE(harness.core().State().alsoTransmit);
    commands.Execute("quit");
    EXPECT_EQ(quitCalls, 1);
}

TEST_F(OperatorCommandsTest, DagOnAndOffAskAndSwitchTheRecording) {
    harness.dialogs.answers = {true};
    commands.Execute("dag on");
    EXPECT_TRUE(harness.core().State().dagRecording);
    EXPECT_EQ(Last(), "Enregistrement dans " + harness.folders.DataFolder() +
                          "/LogFiles/Logs-20261208/Dag-20261208-150000.dag");
    harness.dialogs.answers = {false};
    commands.Execute("dag off");
    EXPECT_TRUE(harness.core().State().dagRecording);
    harness.dialogs.answers = {true};
    commands.Execute("dag off");
    EXPECT_FALSE(harness.core().State().dagRecording);
}

class TypedInsertTest : public OperatorCommandsTest {
protected:
    void SetUp() override {
        OperatorCommandsTest::SetUp();
        PretendSourceConnected();
    }
};

TEST_F(TypedInsertTest, AcceptedDetectionsGoThroughTheManualPath) {
    struct Case {
        const char* line;
        const char* command;
    } cases[] = {
        {"insert 7 10:11:12.13", "AddDagClock(1\t31     CLASSIC\t7\t1\t10:11:12.13)"},
        {"insert 007 10:11:12 14", "AddDagClock(1\t14\t7\t1\t10:11:12.00)"},
        {"insert 8 10:11:12.13 31 CLASSIC +24h",
         "AddDagClock(1\t31     CLASSIC\t8\t1\t34:11:12.13)"},
        {"insert 9 +48h", "AddDagClock(1\t31     CLASSIC\t9\t1\t63:00:00.00)"},
    };
    for (const Case& c : cases) {
        commands.Execute(c.line);
        ASSERT_FALSE(harness.WaitingHostLines().empty()) << c.line;
        EXPECT_EQ(harness.WaitingHostLines().back(), c.command) << c.line;
    }
    // The detector used last is offered first next time.
    EXPECT_EQ(ReadIniInt("Settings", "TorvLastDetectorIndex", -9), 0);
}

TEST_F(TypedInsertTest, RefusedDetectionsShowTheDialogsMessages) {
    const std::pair<const char*, const char*> cases[] = {
        {"insert 12a", "Dossard vide ou invalide !"},
        {"insert 70000", "Dossard vide ou invalide !"},
        {"insert 12 25:61", "Temps invalide !"},
        {"insert 12 10:00:00 99", "Pas de n° de détecteur !"},
    };
    for (const auto& [line, message] : cases) {
        commands.Execute(line);
        EXPECT_EQ(Last(), message) << line;
    }
    EXPECT_TRUE(harness.WaitingHostLines().empty());
    EXPECT_TRUE(harness.DetectionLines().empty());
}

}  // namespace
}  // namespace torvane
