#include <gtest/gtest.h>

#include "base/SettingsStore.h"
#include "support/CoreHarness.h"

namespace torvane {
namespace {

using test::IsolatedFolders;
using test::ReadFile;
using test::WriteFile;

class SettingsStoreTest : public ::testing::Test {
protected:
    IsolatedFolders folders;
    void WriteIni(const std::string& content) { WriteFile(folders.IniPath(), content); }
};

TEST_F(SettingsStoreTest, BooleansReadInTheirWordsAndFallBackToTheDefault) {
    struct Case {
        const char* stored;
        bool defaultValue;
        bool expected;
    } cases[] = {
        {"no", true, false}, {"Yes", false, true}, {"FALSE", true, false}, {"true", false, true},
        {"0", true, false},  {"1", false, true},   {"maybe", true, true},  {"maybe", false, false},
    };
    for (const Case& c : cases) {
        WriteIni(std::string("[Torvane]\nBTorvOpenAtStartup=") + c.stored + "\n");
        EXPECT_EQ(ReadIniBool("Torvane", "BTorvOpenAtStartup", c.defaultValue), c.expected)
            << c.stored;
    }
    WriteIni("[Torvane]\nBTorvOpenAtStartup=\n");
    EXPECT_TRUE(ReadIniBool("Torvane", "BTorvOpenAtStartup", true));
    EXPECT_FALSE(ReadIniBool("Torvane", "Missing", false));
}

TEST_F(SettingsStoreTest, BooleansAreWrittenAsYesAndNo) {
    WriteIniBool("Torvane", "A", true);
    WriteIniBool("Torvane", "B", false);
    const std::string file = ReadFile(folders.IniPath());
    EXPECT_NE(file.find("A=YES"), std::string::npos) << file;
    EXPECT_NE(file.find("B=NO"), std::string::npos) << file;
}

TEST_F(SettingsStoreTest, RectanglesRoundTripAndMalformedOnesGiveTheDefault) {
    const IniRect fallback{1, 2, 3, 4};
    WriteIniRect("Torvane", "Position", IniRect{10, 20, 300, 400});
    EXPECT_NE(ReadFile(folders.IniPath()).find("Position=[10, 20, 300, 400]"), std::string::npos);
    EXPECT_EQ(ReadIniRect("Torvane", "Position", fallback), (IniRect{10, 20, 300, 400}));

    WriteIni("[Torvane]\nPosition=[10, 20, 300]\n");
    EXPECT_EQ(ReadIniRect("Torvane", "Position", fallback), fallback);
    EXPECT_EQ(ReadIniRect("Torvane", "Missing", fallback), fallback);
}

TEST_F(SettingsStoreTest, IntegersReadLikeTheProfileReader) {
    WriteIni("[MyLaps]\nPort=3098\nBad=abc\nSpaced=  42xyz\n");
    EXPECT_EQ(ReadIniInt("MyLaps", "Port", 3097), 3098);
    EXPECT_EQ(ReadIniInt("MyLaps", "Bad", 7), 0);
    EXPECT_EQ(ReadIniInt("MyLaps", "Spaced", 7), 42);
    EXPECT_EQ(ReadIniInt("MyLaps", "Missing", 3097), 3097);
}

TEST_F(SettingsStoreTest, WritesKeepOtherSectionsKeysAndComments) {
    WriteIni("; hand-written note\n[Ostrak]\nHost=timing-pc\n\n[MyLaps]\nPort=4000\n");
    WriteIniInt("Ostrak", "Port", 8283);
    const std::string file = ReadFile(folders.IniPath());
    EXPECT_NE(file.find("; hand-written note"), std::string::npos) << file;
    EXPECT_NE(file.find("Host=timing-pc"), std::string::npos) << file;
    EXPECT_NE(file.find("Port=4000"), std::string::npos) << file;
    EXPECT_EQ(ReadIniInt("Ostrak", "Port", 0), 8283);
}

TEST_F(SettingsStoreTest, SectionsAndKeysIgnoreCase) {
    WriteIni("[ostrak]\nhost=race-host\n");
    EXPECT_EQ(ReadIniString("Ostrak", "Host", "x"), "race-host");
}

TEST_F(SettingsStoreTest, MarkerBesideTheProgramPutsTheDataFolderThere) {
    WriteFile(folders.ProgramFolder() + "/_useXPdirs", "");
    ResetSettingsPathsForTesting();
    EXPECT_EQ(GetDataFolder(), folders.ProgramFolder());
    EXPECT_EQ(GetIniPath(), folders.ProgramFolder() + "/Torvane.ini");
}

TEST_F(SettingsStoreTest, DataFolderIsCreatedUnderXdgDataHome) {
    EXPECT_EQ(GetDataFolder(), folders.DataFolder());
    EXPECT_TRUE(MakeDirectories(folders.DataFolder() + "/a/b/c/"));
    EXPECT_TRUE(MakeDirectories(folders.DataFolder() + "/a/b/c"));
    EXPECT_FALSE(MakeDirectories(""));
}

TEST_F(SettingsStoreTest, MakeDirectoriesFailsWhereAFileStandsInTheWay) {
    WriteFile(folders.DataFolder() + "/plain-file", "x");
    EXPECT_FALSE(MakeDirectories(folders.DataFolder() + "/plain-file/sub"));
}

TEST(FirstStartTest, LeavesEveryStartUpKeyWithItsDefault) {
    test::CoreHarness harness;
    harness.core().LoadGeneralSettings();
    harness.core().LoadLogLevels();
    WriteIniInt("MyLaps", "Port", ReadIniInt("MyLaps", "Port", 3097));

    const std::string file = ReadFile(harness.folders.IniPath());
    for (const char* expected :
         {"[Torvane]", "TorvBagName=Bag", "BTorvOpenAtStartup=YES", "BTorvHaltedAtStartup=YES",
          "[Settings]", "TDaysToAdd=0", "TorvIgnoreUnknownTags=NO", "LogWinLevel=50",
          "LogFileLevel=75", "[MyLaps]", "Port=3097"}) {
        EXPECT_NE(file.find(expected), std::string::npos) << expected << "\n" << file;
    }
    EXPECT_EQ(file.find("[Ostrak]"), std::string::npos);
    EXPECT_FALSE(harness.core().State().flowOpen);
}

}  // namespace
}  // namespace torvane
