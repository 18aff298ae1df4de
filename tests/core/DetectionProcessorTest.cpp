#include <gtest/gtest.h>

#include <algorithm>

#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "journal/JournalExport.h"
#include "support/CoreHarness.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;
using test::ReadFile;

// Passings on 8 December 2026 at noon, the first race day; no host, so every command sent
// waits in the outbox, where the tests read it.
class DetectionProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 12, 0, 0), 0});
        harness.core().LoadGeneralSettings();
        harness.core().Logs().SetWindowLevel(100);
        state().flowOpen = true;
        DagTableEmpty();
        {
            CDagTableLocker lock;
            DagTableAdd("KV00007", 7);
            DagTableAdd("KV00042", 42);
        }
    }
    void TearDown() override {
        clock::UseSystemClock();
        DagTableEmpty();
    }

    RunningState& state() { return harness.core().State(); }
    void Pass(const std::string& chip, const std::string& timeField,
              const std::string& date = "20261208") {
        harness.core().Processor().ProcessPassing(
            test::MakePassing("Loop1", chip, timeField, date));
        DeliverPosted();
    }
    std::vector<std::string> Sent() const { return harness.WaitingHostLines(); }
    // The processing's own lines: the host link, started for the detections, logs its own.
    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        for (const std::string& line : harness.ShownLog()) {
            const bool hostLink = line.starts_with("+ ") || line.starts_with("### Ostrak Pro") ||
                                  line.starts_with("+++ Ostrak Pro");
            if (!hostLink) lines.push_back(line);
        }
        return lines;
    }

    CoreHarness harness;
};

TEST_F(DetectionProcessorTest, KnownChipGoesOutNumberedAndListedWithItsBib) {
    Pass("KV00007", "12:34:56.780");
    EXPECT_EQ(Sent(), (std::vector<std::string>{"AddDagClock(1\tLoop1\t7\t1\t12:34:56.78)"}));
    EXPECT_EQ(harness.DetectionLines(),
              (std::vector<std::string>{"12:34:56.78    KV00007   n°007"}));
    EXPECT_EQ(Log(),
              (std::vector<std::string>{">>> Ostrak: AddDagClock(1 Loop1 7 1 12:34:56.78)"}));
}

TEST_F(DetectionProcessorTest, UnknownChipGoesOutWithItsCodeUnlessUnknownChipsAreIgnored) {
    Pass("ZZ99999", "12:00:00.000");
    EXPECT_EQ(Sent(), (std::vector<std::string>{"AddDagClock(1\tLoop1\tZZ99999\t1\t12:00:00.00)"}));
    EXPECT_EQ(harness.DetectionLines(),
              (std::vector<std::string>{"12:00:00.00    ZZ99999   n° ???"}));

    state().ignoreUnknownChips = true;
    Pass("ZZ88888", "12:00:01.000");
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(harness.DetectionLines().size(), 1u);
    EXPECT_EQ(Log().back(), "## Puce inconnue [ZZ88888] Détection ignorée");
}

TEST_F(DetectionProcessorTest, ClosedFlowDropsThePassingAndNamesBibOrChip) {
    state().flowOpen = false;
    Pass("KV00042", "12:00:00.000");
    Pass("ZZ12345", "12:00:00.000");
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(harness.DetectionLines().empty());
    EXPECT_EQ(Log(), (std::vector<std::string>{">>> Flux des détections fermé (#42)",
                                               ">>> Flux des détections fermé <ZZ12345>"}));
}

// A passing kept back while the flow was closed goes on purpose once, as it would have gone
// with the flow open; the journal then knows it as forwarded, with its bib and race time.
TEST_F(DetectionProcessorTest, KeptBackPassingsGoOnPurposeOnceAsTheyWouldHaveGone) {
    const struct {
        const char* chip;
        const char* record;  // empty: a Store record of the chip and the time
        bool ignoreUnknown;
        const char* line;  // empty: refused
    } cases[] = {
        {"KV00042", "", false, "AddDagClock(1\tLoop1\t42\t1\t12:00:01.00)"},
        {"ZZ12345", "", false, "AddDagClock(1\tLoop1\tZZ12345\t1\t12:00:02.00)"},
        {"ZZ54321", "", true, ""},
        {"KV00007", "c=KV00007|t=12:00:04.5|d=261208", false,
         "AddDagClock(1\tLoop1\t7\t1\t12:00:04.50)"},
        {"KV00042", "KV00042xx", false, ""},
    };
    state().flowOpen = false;
    int second = 0;
    for (const auto& c : cases) {
        ReceivedPassing passing =
            test::MakePassing("Loop1", c.chip, Format("12:00:%02d.000", ++second), "20261208");
        if (*c.record != '\0') {
            passing.kind = PassingKind::Passing;
            passing.record = c.record;
        }
        harness.core().Processor().ProcessPassing(passing);
    }
    ASSERT_TRUE(harness.core().FlushJournal());
    const std::string path = harness.core().PassingJournal().Path();
    const auto held = [&] {
        std::vector<HeldPassing> found;
        ReadHeldPassings(path, {1, 2, 3, 4, 5}, 10, [&](auto chunk) {
            found.insert(found.end(), chunk.begin(), chunk.end());
            return true;
        });
        return found;
    };
    const std::vector<HeldPassing> before = held();
    ASSERT_EQ(before.size(), std::size(cases));
    std::vector<std::string> lines, refused;
    for (std::size_t i = 0; i < before.size(); ++i) {
        SCOPED_TRACE(cases[i].chip);
        state().ignoreUnknownChips = cases[i].ignoreUnknown;
        EXPECT_EQ(harness.core().Processor().ForwardHeld(before[i]), *cases[i].line != '\0');
        if (*cases[i].line != '\0') lines.push_back(cases[i].line);
    }
    ASSERT_TRUE(harness.core().FlushJournal());
    DeliverPosted();
    EXPECT_EQ(Sent(), lines);
    EXPECT_EQ(held().size(), 2u);  // the two refused stay kept back
    EXPECT_TRUE(harness.core().PassingJournal().Contains("Loop1", before[0].record));
    EXPECT_FALSE(harness.core().PassingJournal().Contains("Loop1", before[2].record));
}

TEST_F(DetectionProcessorTest, TimesOfBothFamiliesAndTheirDayOffset) {
    struct Case {
        const char* timeField;
        const char* date;
        const char* expected;
    } cases[] = {
        {" 00:10:05.25", "20261209", "24:10:05.25"}, {"00:10:05.250", "20261210", "48:10:05.25"},
        {"00:10:05.250", "20261211", "72:10:05.25"}, {" 9:08:07.6  ", "20261208", "09:08:07.60"},
        {"09:08:07.065", "20261208", "09:08:07.06"}, {"23:59:59.999", "20261208", "23:59:59.99"},
    };
    for (const Case& c : cases) {
        Pass("KV00007", c.timeField, c.date);
        ASSERT_FALSE(Sent().empty());
        EXPECT_EQ(Sent().back(), std::string("AddDagClock(1\tLoop1\t7\t1\t") + c.expected + ")")
            << c.timeField << " " << c.date;
    }
}

TEST_F(DetectionProcessorTest, AnotherBoxDateIsWarnedAndTakenAsTheFirstDay) {
    Pass("KV00007", "10:00:00.000", "20261206");
    EXPECT_EQ(
        Log().front(),
        "### Attention: Incompatibilité de date boîtier (20261206) / ordinateur (20261208) !");
    EXPECT_EQ(Sent(), (std::vector<std::string>{"AddDagClock(1\tLoop1\t7\t1\t10:00:00.00)"}));
}

TEST_F(DetectionProcessorTest, UnreadableTimesAreReportedAndSkipped) {
    Pass("KV00007", " 12:34");
    Pass("KV00007", "12:34:56    ");
    Pass("KV00007", " -1:00:00.00");
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"$$$ Chrono MyLaps invalide : 12:34<LF>",
                                        "$$$ Chrono MyLaps (milli) invalide : 12:34:56    <LF>",
                                        "$$$ Chrono MyLaps invalide : -1:00:00.00<LF>"}));
}

// 596523 hours is the largest count a race time holds: a later race day cannot be added to it.
TEST_F(DetectionProcessorTest, ATimeThatItsRaceDayWouldCarryPastTheLargestIsRefused) {
    Pass("KV00007", " 596523:00:0", "20261210");
    Pass("KV00007", "596523:0:0.0", "20261209");
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(harness.DetectionLines().empty());
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"$$$ Chrono MyLaps invalide : 596523:00:0<LF>",
                                        "$$$ Chrono MyLaps (milli) invalide : 596523:0:0.0<LF>"}));
    // On the first race day nothing is added: the time goes out as it came.
    Pass("KV00007", "596523:0:0.0", "20261208");
    EXPECT_EQ(Sent(), (std::vector<std::string>{"AddDagClock(1\tLoop1\t7\t1\t596523:00:00.00)"}));
}

TEST_F(DetectionProcessorTest, RecordingWithoutTransmissionWritesTheDagFileOnly) {
    const std::string path = harness.folders.DataFolder() + "/test.dag";
    harness.core().Dag().StartRecording(path);
    state().alsoTransmit = false;
    Pass("ZZ11111", "12:34:56.780");
    Pass("KV00007", "12:34:57.000");
    EXPECT_EQ(ReadFile(path), "1\tLoop1\tZZ11111\t1\t12:34:56.78\r\n");
    EXPECT_EQ(Sent(), (std::vector<std::string>{"AddDagClock(1\tLoop1\t7\t1\t12:34:57.00)"}));
    EXPECT_EQ(harness.DetectionLines(),
              (std::vector<std::string>{"12:34:56.78    ZZ11111   n° ???",
                                        "12:34:57.00    KV00007   n°007"}));
    EXPECT_EQ(Log(),
              (std::vector<std::string>{">>> Ostrak: AddDagClock(1 Loop1 7 1 12:34:57.00)"}));
}

TEST_F(DetectionProcessorTest, RecordingWithTransmissionDoesBoth) {
    const std::string path = harness.folders.DataFolder() + "/both.dag";
    harness.core().Dag().StartRecording(path);
    Pass("ZZ11111", "12:34:56.780", "20261209");
    EXPECT_EQ(ReadFile(path), "1\tLoop1\tZZ11111\t1\t36:34:56.78\r\n");
    EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(DetectionProcessorTest, ManualDetectionIgnoresTheClosedFlowAndAddsItsDays) {
    state().flowOpen = false;
    ManualDetection detection;
    detection.detector = "12";
    detection.bib = 7;
    detection.bibText = "7";
    detection.time.seconds = static_cast<std::int32_t>(clock::MakeLocal(2026, 12, 8, 1, 2, 3));
    detection.time.milliseconds = 450;
    detection.dayOffset = 1;
    harness.manual.next = detection;

    harness.core().InsertManualDetection();
    DeliverPosted();

    EXPECT_EQ(harness.manual.offered.front(), "31     CLASSIC");
    EXPECT_EQ(Sent(), (std::vector<std::string>{"AddDagClock(1\t12\t7\t1\t25:02:03.45)"}));
    EXPECT_EQ(harness.DetectionLines(), (std::vector<std::string>{"25:02:03.45    Man.   n°007"}));
    EXPECT_EQ(Log().back(),
              "+++ Ajout manuel d'une détection Id. boîtier 12 à 25:02:03.45 pour le coureur 7");
    EXPECT_EQ(ReadIniString("Settings", "TorvExtendedDetectors", ""),
              "10-11-12-13-14-15-16-17-18-19-20-21-22-23-24-25-26-27-28-29-30");
}

TEST_F(DetectionProcessorTest, CancelledManualDetectionDoesNothing) {
    harness.core().InsertManualDetection();
    EXPECT_EQ(harness.manual.asked, 1);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(harness.DetectionLines().empty());
}

TEST(DetectorListTest, SplitsAtPlusAndMinusAndTrims) {
    using List = std::vector<std::string>;
    EXPECT_EQ(DetectionProcessor::DetectorList("10-11"), (List{"31     CLASSIC", "10", "11"}));
    EXPECT_EQ(DetectionProcessor::DetectorList(" A + B--C-"),
              (List{"31     CLASSIC", "A", "B", "", "C"}));
    EXPECT_EQ(DetectionProcessor::DetectorList(""), (List{"31     CLASSIC"}));
}

class RaceDayTest : public ::testing::Test {
protected:
    void TearDown() override { clock::UseSystemClock(); }
    CoreHarness harness;
};

TEST_F(RaceDayTest, RaceDayDatesFollowDaysToAdd) {
    clock::SetNowForTesting({clock::MakeLocal(2026, 12, 9, 10, 0, 0), 0});
    using Days = std::array<std::string, 4>;
    const std::pair<int, Days> cases[] = {
        {0, {"20261209", "20261210", "20261211", "20261212"}},
        {1, {"20261208", "20261209", "20261210", "20261211"}},
        {2, {"20261207", "20261208", "20261209", "20261210"}},
        {3, {"20261206", "20261207", "20261208", "20261209"}},
        {-1, {"20261209", "20261210", "20261211", "20261212"}},
    };
    for (const auto& [daysToAdd, expected] : cases) {
        harness.core().State().daysToAdd = daysToAdd;
        harness.core().Processor().ComputeRaceDayDates();
        EXPECT_EQ(harness.core().State().raceDays, expected) << daysToAdd;
    }
}

TEST_F(RaceDayTest, StartingOnTheSecondRaceDayShowsPlus24AtTheFirstTick) {
    clock::SetNowForTesting({clock::MakeLocal(2026, 12, 9, 10, 0, 0), 0});
    WriteIniInt("Settings", "TDaysToAdd", 1);
    harness.core().LoadGeneralSettings();
    harness.core().StartRaceDayTimer();
    harness.timers.Advance(500);
    EXPECT_EQ(harness.core().State().daysToAdd, 1);
    EXPECT_EQ(harness.status.dayOffset, 1);
}

TEST_F(RaceDayTest, MidnightMovesDaysToAddAndStoresIt) {
    clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 23, 59, 59), 500});
    harness.core().LoadGeneralSettings();
    harness.core().StartRaceDayTimer();
    harness.timers.Advance(500);
    EXPECT_EQ(harness.status.dayOffset, 0);

    clock::SetNowForTesting({clock::MakeLocal(2026, 12, 9, 0, 0, 0), 100});
    harness.timers.Advance(500);
    EXPECT_EQ(harness.core().State().daysToAdd, 1);
    EXPECT_EQ(ReadIniInt("Settings", "TDaysToAdd", -9), 1);
    EXPECT_EQ(harness.status.dayOffset, 1);

    // Past the fourth race day the offset falls back to 0 while D0 stays.
    clock::SetNowForTesting({clock::MakeLocal(2026, 12, 12, 0, 0, 0), 0});
    harness.timers.Advance(500);
    EXPECT_EQ(harness.core().State().daysToAdd, 0);
    EXPECT_EQ(harness.core().State().raceDays[0], "20261208");
}

}  // namespace
}  // namespace torvane
