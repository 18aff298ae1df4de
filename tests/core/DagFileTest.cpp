#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <functional>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "intake/DagFile.h"
#include "support/CoreHarness.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;
using test::ReadFile;
using test::WriteFile;

class DagFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 14, 3, 27), 0});
        harness.core().LoadGeneralSettings();
        harness.core().State().flowOpen = true;
        DagTableEmpty();
        CDagTableLocker lock;
        DagTableAdd("KV00007", 7);
    }
    void TearDown() override {
        clock::UseSystemClock();
        DagTableEmpty();
    }
    void Pass(const std::string& chip, const std::string& time,
              const std::string& date = "20261208") {
        harness.core().Processor().ProcessPassing(test::MakePassing("Loop1", chip, time, date));
    }
    std::string StartRecording(const std::string& name) {
        const std::string path = harness.folders.DataFolder() + "/" + name;
        harness.core().Dag().StartRecording(path);
        return path;
    }
    CoreHarness harness;
};

TEST_F(DagFileTest, FileNameCarriesTheDateAndTimeOfTheSwitchInTheDayFolder) {
    EXPECT_EQ(DagFile::NewFilePath(),
              harness.folders.DataFolder() + "/LogFiles/Logs-20261208/Dag-20261208-140327.dag");
}

TEST_F(DagFileTest, RecordsAreNumberedAndEndWithCrLf) {
    const std::string path = StartRecording("a.dag");
    Pass("KV12341", "12:34:56.780");
    Pass("KV12342", "12:34:57.000");
    Pass("KV12343", "12:34:58.000");
    Pass("KV12345", "12:34:56.780");
    EXPECT_EQ(ReadFile(path),
              "1\tLoop1\tKV12341\t1\t12:34:56.78\r\n"
              "2\tLoop1\tKV12342\t1\t12:34:57.00\r\n"
              "3\tLoop1\tKV12343\t1\t12:34:58.00\r\n"
              "4\tLoop1\tKV12345\t1\t12:34:56.78\r\n");
}

TEST_F(DagFileTest, SecondRaceDayTimesCarryTheirDay) {
    const std::string path = StartRecording("b.dag");
    Pass("KV12345", "12:34:56.780", "20261209");
    EXPECT_EQ(ReadFile(path), "1\tLoop1\tKV12345\t1\t36:34:56.78\r\n");
}

TEST_F(DagFileTest, SwitchingOffAndOnStartsANewFileNumberedFromOne) {
    const std::string first = StartRecording("first.dag");
    Pass("KV00001", "10:00:00.000");
    Pass("KV00002", "10:00:01.000");
    harness.core().Dag().StopRecording();
    EXPECT_TRUE(harness.core().State().dagPath.empty());
    Pass("KV00003", "10:00:02.000");
    const std::string second = StartRecording("second.dag");
    Pass("KV00004", "10:00:03.000");
    EXPECT_EQ(ReadFile(first),
              "1\tLoop1\tKV00001\t1\t10:00:00.00\r\n2\tLoop1\tKV00002\t1\t10:00:01.00\r\n");
    EXPECT_EQ(ReadFile(second), "1\tLoop1\tKV00004\t1\t10:00:03.00\r\n");
}

TEST_F(DagFileTest, ADeletedFileIsCreatedAgainAndTheNumberingGoesOn) {
    const std::string path = StartRecording("c.dag");
    Pass("KV00001", "10:00:00.000");
    std::remove(path.c_str());
    Pass("KV00002", "10:00:01.000");
    EXPECT_EQ(ReadFile(path), "2\tLoop1\tKV00002\t1\t10:00:01.00\r\n");
}

TEST_F(DagFileTest, AnExistingFileIsAppendedTo) {
    const std::string path = harness.folders.DataFolder() + "/d.dag";
    WriteFile(path, "1\tOld\tXX00001\t1\t09:00:00.00\r\n");
    harness.core().Dag().StartRecording(path);
    Pass("KV00001", "10:00:00.000");
    EXPECT_EQ(ReadFile(path),
              "1\tOld\tXX00001\t1\t09:00:00.00\r\n1\tLoop1\tKV00001\t1\t10:00:00.00\r\n");
}

TEST_F(DagFileTest, TranslatedChipsManualDetectionsAndDiscardedPassingsAreNotRecorded) {
    const std::string path = StartRecording("e.dag");
    Pass("KV00007", "10:00:00.000");  // in the chip table
    harness.core().State().ignoreUnknownChips = true;
    Pass("KV00008", "10:00:01.000");
    harness.core().State().ignoreUnknownChips = false;
    harness.core().State().flowOpen = false;
    Pass("KV00009", "10:00:02.000");
    harness.core().State().flowOpen = true;
    Pass("KV00010", " bad");
    ManualDetection manual{"12", 5, "5", CChrono(36000, 0), 0};
    manual.time.AddTodayMidnight();
    harness.manual.next = manual;
    harness.core().InsertManualDetection();
    EXPECT_EQ(ReadFile(path), "");
}

struct FailingFileCase {
    const char* name;
    std::function<std::string(const std::string& folder)>
        makePath;  // a path that cannot be written
    const char* reason;
};

const FailingFileCase kFailingFiles[] = {
    {"MissingFolder", [](const std::string& folder) { return folder + "/missing/folder/f.dag"; },
     "No such file or directory"},
    {"FolderInThePlaceOfTheFile",
     [](const std::string& folder) {
         MakeDirectories(folder + "/taken.dag");
         return folder + "/taken.dag";
     },
     "Is a directory"},
    // The device answers every write with "disk full": the failure comes at the flush.
    {"FullDisk", [](const std::string&) { return std::string("/dev/full"); },
     "No space left on device"},
};

class DagFileFailureTest : public DagFileTest,
                           public ::testing::WithParamInterface<FailingFileCase> {};

TEST_P(DagFileFailureTest, TheRecordIsLoggedWholeAndItsNumberIsNotUsedUp) {
    const std::string failing = GetParam().makePath(harness.folders.DataFolder());
    harness.core().Dag().StartRecording(failing);
    harness.core().State().alsoTransmit = false;
    Pass("KV12345", "12:34:56.780");
    Pass("KV12346", "12:34:57.000");
    // The disk has room again: recording goes on in a file that can be written.
    const std::string good = harness.folders.DataFolder() + "/good.dag";
    harness.core().State().dagPath = good;
    Pass("KV12347", "12:34:58.000");
    DeliverPosted();

    const std::string log = harness.LogFile();
    const std::string prefix =
        "$$$ Enregistrement DAG non écrit (" + failing + " : " + GetParam().reason + ") : ";
    EXPECT_NE(log.find(prefix + "1\tLoop1\tKV12345\t1\t12:34:56.78\n"), std::string::npos) << log;
    EXPECT_NE(log.find(prefix + "1\tLoop1\tKV12346\t1\t12:34:57.00\n"), std::string::npos) << log;
    EXPECT_EQ(ReadFile(good), "1\tLoop1\tKV12347\t1\t12:34:58.00\r\n");
    EXPECT_EQ(harness.DetectionLines().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Files, DagFileFailureTest, ::testing::ValuesIn(kFailingFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// A disk that fills up in the middle of a record: the bytes that went in are taken out again.
TEST_F(DagFileTest, ARecordCutByAFullDiskIsTakenOutOfTheFile) {
    const std::string path = StartRecording("cut.dag");
    Pass("KV00001", "10:00:00.000");
    const std::string before = ReadFile(path);

    // The file may grow by a few bytes only, fewer than a record.
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = before.size() + 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    Pass("KV00002", "10:00:01.000");
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(ReadFile(path), before);
    Pass("KV00003", "10:00:02.000");
    EXPECT_EQ(ReadFile(path), before + "2\tLoop1\tKV00003\t1\t10:00:02.00\r\n");
    DeliverPosted();
    EXPECT_NE(harness.LogFile().find(" : 2\tLoop1\tKV00002\t1\t10:00:01.00"), std::string::npos);
}

}  // namespace
}  // namespace torvane
