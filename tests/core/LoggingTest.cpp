#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/PostedMessage.h"
#include "base/SettingsStore.h"
#include "support/CoreHarness.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;
using test::WaitUntil;

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 14, 3, 27), 0});
    }
    void TearDown() override { clock::UseSystemClock(); }
    CoreHarness harness;
};

TEST_F(LoggingTest, WindowLevelDecidesWhatIsShownWhileTheFileGetsEverything) {
    harness.core().Logs().SetWindowLevel(25);
    Log(75, "traffic line");
    Log(0, "operator line");
    Log(100, "raw line");
    DeliverPosted();

    EXPECT_EQ(harness.ShownLog(), (std::vector<std::string>{"operator line"}));
    const std::string file = harness.LogFile();
    EXPECT_NE(file.find("08122026-140327: traffic line\n"), std::string::npos) << file;
    EXPECT_NE(file.find("08122026-140327: operator line\n"), std::string::npos);
    EXPECT_NE(file.find("08122026-140327: raw line\n"), std::string::npos);
}

TEST_F(LoggingTest, ShownLinesCarryTheClockTime) {
    Log(0, "hello");
    DeliverPosted();
    ASSERT_EQ(harness.core().Lists().log.Count(), 1);
    EXPECT_EQ(harness.core().Lists().log.Line(0), "14:03:27: hello");
}

TEST_F(LoggingTest, LineEndsAreEscapedSoOneCallGivesOneLine) {
    Log(0, "a\r\nb");
    DeliverPosted();
    EXPECT_EQ(harness.ShownLog(), (std::vector<std::string>{"a<CR><LF>b"}));
    EXPECT_NE(harness.LogFile().find(": a<CR><LF>b\n"), std::string::npos);
}

TEST_F(LoggingTest, TheLogListPurgesTwoThousandLinesPastEightThousand) {
    for (int i = 1; i <= 8001; ++i) Log(0, "line " + std::to_string(i));
    DeliverPosted();
    const auto& log = harness.core().Lists().log;
    EXPECT_EQ(log.Count(), 6001);
    EXPECT_NE(log.Line(0).find("line 2001"), std::string::npos);
    const std::string file = harness.LogFile();
    const auto start = file.find("Purge Log Window content...");
    const auto done = file.find("Purge Log Window done");
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(done, std::string::npos);
    EXPECT_LT(start, done);
    EXPECT_LT(file.find("line 8000\n"), start);
    EXPECT_GT(file.find("line 8001\n"), done);
    for (const auto& line : harness.ShownLog()) EXPECT_EQ(line.find("Purge"), std::string::npos);
}

// The detection list keeps a whole race in view, yet a flood cannot make it grow for ever.
TEST_F(LoggingTest, TheDetectionListPurgesTwentyThousandLinesPastAHundredThousand) {
    auto& detections = harness.core().Lists().detections;
    for (int i = 1; i <= 100001; ++i) detections.Append("detection " + std::to_string(i));
    EXPECT_EQ(detections.Count(), 80001);
    EXPECT_EQ(detections.Line(0), "detection 20001");
    const std::string file = harness.LogFile();
    EXPECT_NE(file.find("Purge Detection Window content..."), std::string::npos);
    EXPECT_NE(file.find("Purge Detection Window done"), std::string::npos);
}

TEST_F(LoggingTest, TheFileLevelStaysFixedWhateverTheSettingSays) {
    WriteIniInt("Settings", "LogFileLevel", 0);
    harness.core().LoadLogLevels();
    Log(100, "detailed");
    DeliverPosted();
    EXPECT_NE(harness.LogFile().find(": detailed\n"), std::string::npos);
}

TEST_F(LoggingTest, BannerAndStopLineFrameARun) {
    WriteStartBanner();
    LogToFile("during the run");
    WriteStopLine();
    const std::string stars(54, '*');
    const std::string expected = "\n" + stars + "\n" +
                                 "* Torvane  (Version 1.70b - 24 jun 2o26) Started Tuesday, "
                                 "December 08, 2026  at 14h03mn27s\n" +
                                 stars + "\n" + "08122026-140327: during the run\n" +
                                 "08122026-140327: *** Regular Torvane stop\n";
    EXPECT_EQ(harness.LogFile(), expected);
}

TEST_F(LoggingTest, DayFolderIsNamedAfterToday) {
    EXPECT_EQ(GetDayLogFolder(), harness.folders.DataFolder() + "/LogFiles/Logs-20261208");
}

TEST_F(LoggingTest, LinesLoggedWithoutATargetAreDroppedQuietly) {
    SetMessageTarget(nullptr);
    Log(0, "nobody listens");
    harness.core().AttachMessageTarget();
    DeliverPosted();
    EXPECT_TRUE(harness.ShownLog().empty());
}

TEST_F(LoggingTest, ALineLoggedBeforeTheWindowExistsComesWithTheFirstLineThatReachesIt) {
    SetMessageTarget(nullptr);
    LogEvenBeforeStart(0, "found at start-up");
    Log(0, "nobody listens");
    harness.core().AttachMessageTarget();
    Log(0, "first line");
    DeliverPosted();
    EXPECT_EQ(harness.ShownLog(), (std::vector<std::string>{"first line", "found at start-up"}));
    EXPECT_NE(harness.LogFile().find(": found at start-up\n"), std::string::npos);
}

struct LogFileFailureCase {
    const char* name;
    std::function<void(const std::string& path)> breakFile;
    const char* reason;
};

const LogFileFailureCase kLogFileFailures[] = {
    // Every write of the device fails as on a full disk; the failure comes at the flush.
    {"FullDisk", [](const std::string& path) { ::symlink("/dev/full", path.c_str()); },
     "No space left on device"},
    {"FolderInItsPlace", [](const std::string& path) { ::mkdir(path.c_str(), 0755); },
     "Is a directory"},
};

class LogFileFailureTest : public LoggingTest,
                           public ::testing::WithParamInterface<LogFileFailureCase> {
protected:
    int CountShown(const std::string& line) const {
        const auto shown = harness.ShownLog();
        return static_cast<int>(std::count(shown.begin(), shown.end(), line));
    }
    void LogAndDeliver(const std::string& text) {
        Log(0, text);
        // The failure line that a failed write logs is delivered in a later pass.
        for (int pass = 0; pass < 3; ++pass) DeliverPosted();
    }
    void BreakFile() {
        ::unlink(harness.folders.LogPath().c_str());
        GetParam().breakFile(harness.folders.LogPath());
    }
    void RepairFile() {
        ::unlink(harness.folders.LogPath().c_str());
        ::rmdir(harness.folders.LogPath().c_str());
    }
};

TEST_P(LogFileFailureTest, EachRunOfFailuresIsShownOnceAndItsEndSaysWhatWasLost) {
    const std::string failureLine =
        std::string("$$$ Écriture du journal impossible (") + GetParam().reason + ")";
    LogAndDeliver("written");
    BreakFile();
    const int failedBefore = LogFileFailedWrites();
    LogAndDeliver("lost 1");
    LogAndDeliver("lost 2");
    EXPECT_EQ(CountShown(failureLine), 1);
    // "lost 1", the failure line itself and "lost 2".
    EXPECT_EQ(LogFileFailedWrites() - failedBefore, 3);

    RepairFile();
    LogAndDeliver("written again");
    const std::string file = harness.LogFile();
    EXPECT_NE(file.find(": written again\n"), std::string::npos) << file;
    EXPECT_NE(file.find(": +++ Le journal est de nouveau écrit (3 lignes perdues)\n"),
              std::string::npos)
        << file;
    EXPECT_EQ(file.find("lost"), std::string::npos);

    BreakFile();
    LogAndDeliver("lost 3");
    EXPECT_EQ(CountShown(failureLine), 2);
    RepairFile();
    LogAndDeliver("written at the end");
    EXPECT_NE(harness.LogFile().find("(2 lignes perdues)"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Failures, LogFileFailureTest, ::testing::ValuesIn(kLogFileFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvane
