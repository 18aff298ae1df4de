#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

const char* const kStartLine = "Démarrage Torvane - Version 1.70b - 24 jun 2o26";

class DesktopStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = FreePort();
        torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(port) + "\n");
    }
    int port = 0;
    TorvaneProcess torvane;
};

TEST_F(DesktopStartTest, StartsWithItsBannerSettingsAndChipTableLine) {
    ASSERT_TRUE(torvane.Start());
    ASSERT_TRUE(torvane.WaitForLog(kStartLine)) << torvane.Output();
    ASSERT_TRUE(
        torvane.WaitForLog("### Pas de table de correspondance trouvée (fichier "
                           "ChipTable.dtb ou MyLapsTable.dtb)"));
    const std::string log = ReadWholeFile(torvane.LogPath());
    EXPECT_EQ(log.rfind("\n" + std::string(54, '*') +
                            "\n* Torvane  (Version 1.70b - 24 jun "
                            "2o26) Started ",
                        0),
              0u)
        << log;
    const std::string ini = ReadWholeFile(torvane.IniPath());
    for (const char* key :
         {"TorvBagName=Bag", "BTorvOpenAtStartup=YES", "BTorvHaltedAtStartup=YES", "TDaysToAdd=0",
          "TorvIgnoreUnknownTags=NO", "LogWinLevel=50", "LogFileLevel=75"}) {
        EXPECT_NE(ini.find(key), std::string::npos) << key << "\n" << ini;
    }
    torvane.Signal(SIGTERM);
    ASSERT_TRUE(torvane.WaitForExit());
}

TEST_F(DesktopStartTest, ASecondInstanceEndsSilently) {
    ASSERT_TRUE(torvane.Start());
    ASSERT_TRUE(torvane.WaitForLog(kStartLine));

    QProcess second;
    second.setProcessEnvironment(torvane.Environment());
    second.start(QString::fromStdString(BinaryPath()), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.readAll().toStdString(), "");
    const std::string log = ReadWholeFile(torvane.LogPath());
    EXPECT_EQ(log.find("Started", log.find("Started") + 1), std::string::npos) << log;
    // Without a notification area the second launch brings the first one forward, which
    // keeps running.
    EXPECT_FALSE(torvane.WaitForExit(500));

    torvane.Signal(SIGTERM);
    ASSERT_TRUE(torvane.WaitForExit());
}

class ExitSignalTest : public DesktopStartTest, public ::testing::WithParamInterface<int> {};

TEST_P(ExitSignalTest, EachExitSignalEndsTheProgramWithTheStopLine) {
    ASSERT_TRUE(torvane.Start());
    ASSERT_TRUE(torvane.WaitForLog(kStartLine));
    torvane.Signal(GetParam());
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_EQ(torvane.ExitStatus(), QProcess::NormalExit);
    EXPECT_EQ(torvane.ExitCode(), 0);
    const std::string log = ReadWholeFile(torvane.LogPath());
    const std::string stopLine = ": *** Regular Torvane stop\n";
    ASSERT_GE(log.size(), stopLine.size());
    EXPECT_EQ(log.substr(log.size() - stopLine.size()), stopLine) << log;
    // The window's position was stored on the way out.
    EXPECT_NE(ReadWholeFile(torvane.IniPath()).find("Position=["), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, ExitSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
}  // namespace torvane::test
