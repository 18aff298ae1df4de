#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QDir>
#include <algorithm>
#include <csignal>

#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "support/CoreHarness.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;
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

    // A value the file holds already leaves the file as it is (each save replaces the file).
    struct stat before {}, after {};
    ASSERT_EQ(::stat(folders.IniPath().c_str(), &before), 0);
    WriteIniString("Ostrak", "Host", "timing-pc");
    WriteIniInt("Ostrak", "Port", 8283);
    ASSERT_EQ(::stat(folders.IniPath().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    WriteIniInt("Ostrak", "Port", 8284);
    ASSERT_EQ(::stat(folders.IniPath().c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
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

TEST_F(SettingsStoreTest, TheRunsDataFolderComesFirstAndIsMadeOrRefused) {
    WriteFile(folders.ProgramFolder() + "/_useXPdirs", "");
    WriteFile(folders.Root().Path() + "/plain-file", "x");
    EXPECT_NE(UseDataFolderForRun(folders.Root().Path() + "/plain-file/sub"), "");
    const std::string rehearsal = folders.Root().Path() + "/rehearsal/one";
    EXPECT_EQ(UseDataFolderForRun(rehearsal), "");
    EXPECT_EQ(GetDataFolder(), rehearsal);
    EXPECT_EQ(GetIniPath(), rehearsal + "/Torvane.ini");
}

TEST_F(SettingsStoreTest, ARunValueIsReadButSavedOnlyWhenTheOperatorChangesIt) {
    WriteIni("[MyLaps]\nPort=3097\n");
    SetIniValueForRun("MyLaps", "Port", "13097");
    EXPECT_EQ(ReadIniInt("mylaps", "PORT", 0), 13097);
    WriteIniInt("MyLaps", "Port", 13097);  // what every start writes back
    EXPECT_EQ(ReadFile(folders.IniPath()), "[MyLaps]\nPort=3097\n");
    WriteIniInt("MyLaps", "Port", 4000);
    EXPECT_NE(ReadFile(folders.IniPath()).find("Port=4000"), std::string::npos);
    EXPECT_EQ(ReadIniInt("MyLaps", "Port", 0), 4000);
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

using namespace std::string_literals;

// What SimpleIni would read only in part, or not at all.
struct DamagedIniCase {
    const char* name;
    std::string content;
    const char* problem;
};

const DamagedIniCase kDamagedInis[] = {
    {"NulByte", "[Ostrak]\nHost=timing-pc\n\0\0\0\0[MyLaps]\nPort=4000\n"s, "octet NUL ligne 3"},
    {"Utf16", "\xFF\xFE[\0O\0s\0t\0r\0a\0k\0]\0"s, "octet NUL ligne 1"},
    {"LineWithoutEquals", "[Ostrak]\nHost timing-pc\n",
     "ligne 2 ni section, ni réglage, ni commentaire"},
    {"UnclosedSection", "[Ostrak\nHost=timing-pc\n",
     "ligne 1 ni section, ni réglage, ni commentaire"},
    {"EmptyKey", "[Ostrak]\r\n=timing-pc\r\n", "ligne 2 ni section, ni réglage, ni commentaire"},
    {"BinaryBytes",
     "\x7F"
     "ELF\x02\x01\x01",
     "ligne 1 ni section, ni réglage, ni commentaire"},
};

class DamagedIniTest : public ::testing::TestWithParam<DamagedIniCase> {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 14, 3, 27), 0});
    }
    void TearDown() override { clock::UseSystemClock(); }
    std::string KeptPath() const { return harness.folders.IniPath() + ".bad-20261208-140327"; }
    std::vector<std::string> ShownErrors() {
        DeliverPosted();
        std::vector<std::string> errors;
        for (const auto& line : harness.ShownLog()) {
            if (line.starts_with("$$$")) errors.push_back(line);
        }
        return errors;
    }
    CoreHarness harness;
};

TEST_P(DamagedIniTest, IsKeptAsideAndTheDefaultsAreUsed) {
    const std::string ini = harness.folders.IniPath();
    WriteFile(ini, GetParam().content);

    EXPECT_EQ(ReadIniString("Ostrak", "Host", "localhost"), "localhost");
    EXPECT_EQ(ReadIniInt("MyLaps", "Port", 3097), 3097);
    EXPECT_EQ(ReadFile(KeptPath()), GetParam().content);
    EXPECT_EQ(ShownErrors(),
              (std::vector<std::string>{"$$$ Fichier de réglages illisible (" +
                                        std::string(GetParam().problem) + ") : conservé sous " +
                                        KeptPath() + " ; réglages par défaut utilisés"}));

    // The next write starts a new file and leaves the damaged one as it was.
    WriteIniInt("MyLaps", "Port", 3097);
    EXPECT_EQ(ReadFile(ini), "[MyLaps]\nPort=3097\n");
    EXPECT_EQ(ReadFile(KeptPath()), GetParam().content);
    EXPECT_EQ(ShownErrors().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Contents, DamagedIniTest, ::testing::ValuesIn(kDamagedInis),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DamagedIniTest, AFolderInThePlaceOfTheFileIsMovedAsideToo) {
    ASSERT_TRUE(MakeDirectories(harness.folders.IniPath()));
    EXPECT_EQ(ReadIniBool("Torvane", "BTorvOpenAtStartup", true), true);
    EXPECT_TRUE(QDir(QString::fromStdString(KeptPath())).exists());
    ASSERT_EQ(ShownErrors().size(), 1u);
    EXPECT_NE(ShownErrors()[0].find("(pas un fichier ordinaire)"), std::string::npos);
    WriteIniBool("Torvane", "BTorvOpenAtStartup", false);
    EXPECT_FALSE(ReadIniBool("Torvane", "BTorvOpenAtStartup", true));
}

TEST_F(DamagedIniTest, ASecondDamagedFileInTheSameSecondGetsANameOfItsOwn) {
    WriteFile(harness.folders.IniPath(), "first damaged\n");
    ReadIniInt("MyLaps", "Port", 3097);
    WriteFile(harness.folders.IniPath(), "second damaged\n");
    ReadIniInt("MyLaps", "Port", 3097);
    EXPECT_EQ(ReadFile(KeptPath()), "first damaged\n");
    EXPECT_EQ(ReadFile(KeptPath() + "-2"), "second damaged\n");
}

// Files people write by hand that SimpleIni reads whole.
TEST_F(SettingsStoreTest, HandWrittenFilesAreReadWhole) {
    const std::string files[] = {
        "\xEF\xBB\xBF[Ostrak]\nHost=timing-pc\n",
        "; note\n# other note\n\n   \n[Ostrak]\r\nHost = timing-pc\r\n",
        "[Ostrak]\n  Host=timing-pc",
        "[ Ostrak ] trailing words\nHost=timing-pc\nPort=\n",
    };
    for (const std::string& content : files) {
        WriteIni(content);
        EXPECT_EQ(ReadIniString("Ostrak", "Host", "localhost"), "timing-pc") << content;
        EXPECT_EQ(ReadFile(folders.IniPath()), content);
    }
}

// The file is replaced by a new one, never rewritten in place: a reader (or a power cut) sees the
// old content or the new, and a failed save leaves the old file whole.
TEST(SettingsSaveTest, SavingReplacesTheFileWholeAndAFailedSaveKeepsTheOldOne) {
    CoreHarness harness;
    const IsolatedFolders& folders = harness.folders;
    WriteFile(folders.IniPath(), "[Ostrak]\nHost=timing-pc\n");
    ::chmod(folders.IniPath().c_str(), 0640);
    const std::string sameInode = folders.DataFolder() + "/old-link";
    ASSERT_EQ(::link(folders.IniPath().c_str(), sameInode.c_str()), 0);

    WriteIniInt("Ostrak", "Port", 8283);
    EXPECT_EQ(ReadFile(folders.IniPath()), "[Ostrak]\nHost=timing-pc\nPort=8283\n");
    EXPECT_EQ(ReadFile(sameInode), "[Ostrak]\nHost=timing-pc\n");
    struct stat st {};
    ASSERT_EQ(::stat(folders.IniPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // No file may grow past a byte: every save fails.
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = 1;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    WriteIniInt("Ostrak", "Port", 9000);
    WriteIniInt("Ostrak", "Port", 9001);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(ReadFile(folders.IniPath()), "[Ostrak]\nHost=timing-pc\nPort=8283\n");
    DeliverPosted();
    const auto shown = harness.ShownLog();
    EXPECT_EQ(std::count_if(shown.begin(), shown.end(),
                            [](const std::string& line) {
                                return line.starts_with("$$$ Réglages non enregistrés (");
                            }),
              1)
        << ::testing::PrintToString(shown);
    // No temporary file is left behind (beside the settings, only the journal's files).
    const QStringList left = QDir(QString::fromStdString(folders.DataFolder()))
                                 .entryList({"Torvane.ini*", "old-link"}, QDir::Files, QDir::Name);
    EXPECT_EQ(left.join(" ").toStdString(), "Torvane.ini old-link");
    WriteIniInt("Ostrak", "Port", 9002);
    EXPECT_EQ(ReadIniInt("Ostrak", "Port", 0), 9002);
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
          "LogFileLevel=75", "[MyLaps]", "Port=3097", "SilenceMinutes=10"}) {
        EXPECT_NE(file.find(expected), std::string::npos) << expected << "\n" << file;
    }
    EXPECT_EQ(file.find("[Ostrak]"), std::string::npos) << file;
    EXPECT_FALSE(harness.core().State().flowOpen);
}

}  // namespace
}  // namespace torvane
