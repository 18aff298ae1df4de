#include <gtest/gtest.h>

#include <QProcess>
#include <csignal>
#include <cstring>
#include <regex>

#include "HostSimulator.h"
#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

const char* const kStartLine = "Démarrage Torvane - Version 1.70b - 24 jun 2o26";

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override { myLapsPort = FreePort(); }
    void StartTorvane(const std::string& extraIni = "") {
        torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(myLapsPort) + "\n" + extraIni);
        ASSERT_TRUE(torvane.Start({"--headless"}));
        ASSERT_TRUE(torvane.WaitForOutput(std::string(kStartLine))) << torvane.Output();
    }
    int myLapsPort = 0;
    TorvaneProcess torvane;
};

TEST_F(HeadlessTest, PrintsTheLogAndAnswersCommandsInFrench) {
    StartTorvane();
    torvane.Write("status\n");
    EXPECT_TRUE(
        torvane.WaitForOutput("MyLaps : en attente de connexion\nOstrak Pro : déconnecté\n"
                              "Flux des détections : fermé\n"));
    torvane.Write("help\nlevel 25\nfrobnicate\n");
    EXPECT_TRUE(torvane.WaitForOutput("  quit                   arrêter Torvane\n"));
    EXPECT_TRUE(torvane.WaitForOutput(": + Niveau de traces mis à 25\n"));
    EXPECT_TRUE(torvane.WaitForOutput("Commande inconnue : frobnicate"));
    // Shown lines carry the clock as the log list does.
    EXPECT_TRUE(std::regex_search(torvane.Output(),
                                  std::regex("\\n\\d\\d:\\d\\d:\\d\\d: Démarrage Torvane")));
    torvane.Write("quit\n");
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_EQ(torvane.ExitCode(), 0);
    const std::string log = ReadWholeFile(torvane.LogPath());
    EXPECT_NE(log.find(": + Niveau de traces mis à 25\n"), std::string::npos);
    EXPECT_NE(log.find(": *** Regular Torvane stop\n"), std::string::npos);
}

TEST_F(HeadlessTest, TheEndOfInputDoesNotStopIt) {
    StartTorvane();
    torvane.CloseInput();
    EXPECT_FALSE(torvane.WaitForExit(700));
    torvane.Signal(SIGTERM);
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_NE(ReadWholeFile(torvane.LogPath()).find("*** Regular Torvane stop"), std::string::npos);
}

class HeadlessSignalTest : public HeadlessTest, public ::testing::WithParamInterface<int> {};

TEST_P(HeadlessSignalTest, EachSignalStopsItCleanly) {
    StartTorvane();
    torvane.Signal(GetParam());
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_EQ(torvane.ExitStatus(), QProcess::NormalExit);
    EXPECT_EQ(torvane.ExitCode(), 0);
    const std::string log = ReadWholeFile(torvane.LogPath());
    const std::string stop = ": *** Regular Torvane stop\n";
    ASSERT_GE(log.size(), stop.size());
    EXPECT_EQ(log.substr(log.size() - stop.size()), stop);
}

INSTANTIATE_TEST_SUITE_P(Signals, HeadlessSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(HeadlessTest, ForwardsPassingsBetweenTheTwoSimulatorsAndTakesCommands) {
    const std::string dir = torvane.DataFolder();
    WriteWholeFile(dir + "/ChipTable.dtb", "KV00001 101\nKV00002 102\n");
    WriteWholeFile(dir + "/runners.txt",
                   "101;MARTIN;Anne;F;SEF;Lyon\n102;DURAND;Paul;M;SEM;Caen\n");
    HostSimulator host;
    ASSERT_TRUE(host.Start(dir + "/host.log", dir + "/runners.txt"));
    StartTorvane("[Torvane]\nBTorvHaltedAtStartup=NO\n[Ostrak]\nHost=127.0.0.1\nPort=" +
                 std::to_string(host.Port()) + "\n");
    EXPECT_TRUE(torvane.WaitForOutput("+++ Table de correspondance chargée (2 entrées)."));

    QProcess source;
    source.start(QString::fromStdString(ToolPath("mylaps-sim")),
                 {"--port", QString::number(myLapsPort), "--riders", "3", "--count", "3",
                  "--per-store", "1", "--rate", "4"});
    ASSERT_TRUE(source.waitForFinished(20000));
    EXPECT_EQ(source.exitCode(), 0) << source.readAll().toStdString();

    EXPECT_TRUE(torvane.WaitForOutput("KV00001   n°101\n"));
    EXPECT_TRUE(torvane.WaitForOutput("KV00002   n°102\n"));
    EXPECT_TRUE(torvane.WaitForOutput("KV00003   n° ???\n"));
    EXPECT_TRUE(torvane.WaitForOutput("RES    101 MARTIN Anne"));
    EXPECT_TRUE(torvane.WaitForOutput("RES    102 DURAND Paul"));
    const std::string hostLog = ReadWholeFile(dir + "/host.log");
    EXPECT_NE(hostLog.find("GetMode()"), std::string::npos);
    EXPECT_NE(hostLog.find("AddDagClock(1\tLoop1\t101\t1\t"), std::string::npos) << hostLog;
    EXPECT_NE(hostLog.find("AddDagClock(1\tLoop1\tKV00003\t1\t"), std::string::npos);

    // The source has left: nothing is linked now, and a closed flow is reported.
    torvane.Write("close\nstatus\n");
    EXPECT_TRUE(torvane.WaitForOutput("Flux des détections fermé."));
    EXPECT_TRUE(torvane.WaitForOutput("Flux des détections : fermé"));
    torvane.Write("quit\n");
    ASSERT_TRUE(torvane.WaitForExit());
}

TEST(NoDisplayTest, StartsHeadlessByItselfAndSaysSo) {
    TorvaneProcess torvane;
    torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(FreePort()) + "\n");
    QProcessEnvironment environment = torvane.Environment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    torvane.Process().setProcessEnvironment(environment);
    ASSERT_TRUE(torvane.Start());
    EXPECT_TRUE(torvane.WaitForOutput(kStartLine));
    EXPECT_EQ(
        torvane.Output().rfind("Pas d'affichage : Torvane démarre sans fenêtre (--headless).\n", 0),
        0u)
        << torvane.Output();
    torvane.Signal(SIGTERM);
    ASSERT_TRUE(torvane.WaitForExit());
}

}  // namespace
}  // namespace torvane::test
