#include <gtest/gtest.h>

#include <QProcess>
#include <csignal>
#include <cstring>
#include <regex>

#include <sys/stat.h>

#include "HostSimulator.h"
#include "TorvaneProcess.h"
#include "support/LoopbackSockets.h"

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

// The benchmark's watch of the window thread: its file is written when the program stops.
TEST_F(HeadlessTest, TheLoopWatchWritesItsFileAtTheEnd) {
    const std::string watchFile = torvane.DataFolder() + "/../loop-watch.txt";
    QProcessEnvironment environment = torvane.Environment();
    environment.insert("TORVANE_LOOP_WATCH", QString::fromStdString(watchFile));
    torvane.Process().setProcessEnvironment(environment);
    StartTorvane();
    torvane.Write("status\n");
    ASSERT_TRUE(torvane.WaitForOutput("Détections en attente : 0"));
    EXPECT_EQ(ReadWholeFile(watchFile), "");
    torvane.Write("quit\n");
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_EQ(ReadWholeFile(watchFile).rfind("longest_gap_ms ", 0), 0u) << ReadWholeFile(watchFile);
}

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

// `torvane ctl` reaches the running Torvane of the same folders through its web API.
TEST_F(HeadlessTest, CtlAsksTheRunningTorvaneAndSaysWhenNoneAnswers) {
    torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(myLapsPort) + "\n");
    ASSERT_TRUE(torvane.Start({"--headless", "--open-flow", "--web-port", "0"}));
    ASSERT_TRUE(torvane.WaitForOutput("+ Page web sur http://127.0.0.1:")) << torvane.Output();
    const auto ctl = [&](const QStringList& arguments, std::string& output) {
        QProcess process;
        process.setProcessEnvironment(torvane.Environment());
        process.start(QString::fromStdString(BinaryPath()), QStringList{"ctl"} + arguments);
        process.closeWriteChannel();
        if (!process.waitForFinished(10000)) return -1;
        output = process.readAllStandardOutput().toStdString() +
                 process.readAllStandardError().toStdString();
        return process.exitCode();
    };
    std::string output;
    EXPECT_EQ(ctl({"status"}, output), 0);
    EXPECT_NE(output.find("MyLaps : en attente de connexion\nOstrak Pro : déconnecté\n"
                          "Flux des détections : ouvert\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(ctl({"close"}, output), 0);
    EXPECT_EQ(output, "Flux des détections fermé.\n");
    EXPECT_EQ(ctl({"replay", "25:99"}, output), 1);
    EXPECT_NE(output.find("Usage : replay HH:MM[:SS]"), std::string::npos) << output;
    EXPECT_EQ(ctl({"replay", "00:00"}, output), 0);
    EXPECT_EQ(output.rfind("+++ Rejeu : 0 détections reçues de 00:00 à maintenant", 0), 0u)
        << output;
    torvane.Write("status\n");
    EXPECT_TRUE(torvane.WaitForOutput("Flux des détections : fermé"));

    torvane.Write("quit\n");
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_EQ(ctl({"status"}, output), 2);
    EXPECT_NE(output.find("Aucun Torvane ne répond"), std::string::npos) << output;
}

// A busy web port costs the page only; the token is made at the first start, for the owner's
// eyes only.
TEST_F(HeadlessTest, ABusyWebPortIsALogLineAndTorvaneGoesOn) {
    const SocketFd busy = ListenOnLoopback();
    const int webPort = LocalPort(busy.Get());
    torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(myLapsPort) +
                     "\n[Web]\nPort=" + std::to_string(webPort) + "\n");
    ASSERT_TRUE(torvane.Start({"--headless", "--web-port", std::to_string(webPort)}));
    EXPECT_TRUE(
        torvane.WaitForOutput("$$$ Le port web " + std::to_string(webPort) + " est inutilisable"))
        << torvane.Output();
    torvane.Write("status\n");
    EXPECT_TRUE(torvane.WaitForOutput("Flux des détections : fermé"));
    const std::string ini = ReadWholeFile(torvane.IniPath());
    EXPECT_TRUE(std::regex_search(ini, std::regex("\n\\[Web\\]\n(.*\n)*Token=[0-9a-f]{32}\n")))
        << ini;
    struct stat info {};
    ASSERT_EQ(::stat(torvane.IniPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
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
