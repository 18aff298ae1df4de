#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "app/OperatorCommands.h"
#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "support/CoreHarness.h"
#include "support/ScopedTimeZone.h"
#include "support/TestName.h"
#include "tables/DagTable.h"

// Race days are calendar days of the local zone: on the nights the clocks change a day lasts 23
// or 25 hours, and the year ends on 31 December.
namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;
using test::ScopedTimeZone;
using Days = std::array<std::string, 4>;

struct LocalTime {
    int year, month, day, hour, minute;
};

std::int64_t At(const LocalTime& t) {
    return clock::MakeLocal(t.year, t.month, t.day, t.hour, t.minute);
}

std::string Describe(const char* zone, const LocalTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %04d-%02d-%02d %02d:%02d", zone, t.year, t.month, t.day,
                  t.hour, t.minute);
    return text;
}

void ExpectZoneInstalled(const std::string& zone) {
    ASSERT_TRUE(std::filesystem::exists("/usr/share/zoneinfo/" + zone)) << zone;
}

struct RaceDayDatesCase {
    const char* zone;
    LocalTime now;
    int daysToAdd;
    Days expected;
};

void PrintTo(const RaceDayDatesCase& c, std::ostream* out) {
    *out << Describe(c.zone, c.now) << ", days to add " << c.daysToAdd;
}

class RaceDayDatesTest : public ::testing::TestWithParam<RaceDayDatesCase> {
protected:
    void TearDown() override { clock::UseSystemClock(); }
};

TEST_P(RaceDayDatesTest, AreConsecutiveCalendarDays) {
    const RaceDayDatesCase& c = GetParam();
    ExpectZoneInstalled(c.zone);
    ScopedTimeZone zone(c.zone);
    CoreHarness harness;
    clock::SetNowForTesting({At(c.now), 0});
    harness.core().State().daysToAdd = c.daysToAdd;
    harness.core().Processor().ComputeRaceDayDates();
    EXPECT_EQ(harness.core().State().raceDays, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ClockChangesAndNewYear, RaceDayDatesTest,
    ::testing::Values(
        // Paris: 29 March 2026 has 23 hours, 25 October 2026 has 25.
        RaceDayDatesCase{"Europe/Paris",
                         {2026, 3, 28, 23, 30},
                         0,
                         {"20260328", "20260329", "20260330", "20260331"}},
        RaceDayDatesCase{"Europe/Paris",
                         {2026, 3, 30, 0, 30},
                         1,
                         {"20260329", "20260330", "20260331", "20260401"}},
        RaceDayDatesCase{"Europe/Paris",
                         {2026, 3, 31, 0, 30},
                         3,
                         {"20260328", "20260329", "20260330", "20260331"}},
        RaceDayDatesCase{"Europe/Paris",
                         {2026, 10, 25, 0, 30},
                         0,
                         {"20261025", "20261026", "20261027", "20261028"}},
        RaceDayDatesCase{"Europe/Paris",
                         {2026, 10, 25, 23, 30},
                         2,
                         {"20261023", "20261024", "20261025", "20261026"}},
        RaceDayDatesCase{"Europe/Paris",
                         {2026, 12, 31, 23, 59},
                         0,
                         {"20261231", "20270101", "20270102", "20270103"}},
        // New York: 8 March 2026 has 23 hours, 1 November 2026 has 25.
        RaceDayDatesCase{"America/New_York",
                         {2026, 3, 7, 23, 30},
                         0,
                         {"20260307", "20260308", "20260309", "20260310"}},
        RaceDayDatesCase{"America/New_York",
                         {2026, 3, 9, 0, 30},
                         2,
                         {"20260307", "20260308", "20260309", "20260310"}},
        RaceDayDatesCase{"America/New_York",
                         {2026, 11, 1, 0, 30},
                         0,
                         {"20261101", "20261102", "20261103", "20261104"}},
        RaceDayDatesCase{"America/New_York",
                         {2026, 11, 2, 23, 30},
                         1,
                         {"20261101", "20261102", "20261103", "20261104"}},
        // Tokyo keeps one offset all year; the year still ends.
        RaceDayDatesCase{"Asia/Tokyo",
                         {2026, 12, 31, 23, 30},
                         0,
                         {"20261231", "20270101", "20270102", "20270103"}},
        RaceDayDatesCase{
            "Asia/Tokyo", {2027, 1, 1, 0, 30}, 1, {"20261231", "20270101", "20270102", "20270103"}},
        RaceDayDatesCase{
            "UTC", {2028, 3, 1, 0, 0}, 1, {"20280229", "20280301", "20280302", "20280303"}}),
    test::PrintedName());

// A race that starts on the evening (or the early morning) of `start` and runs over the next
// three midnights, one of which is a clock change or the new year.
struct RaceWeekendCase {
    const char* zone;
    LocalTime start;
    Days raceDays;
};

void PrintTo(const RaceWeekendCase& c, std::ostream* out) {
    *out << Describe(c.zone, c.start);
}

class RaceWeekendTest : public ::testing::TestWithParam<RaceWeekendCase> {
protected:
    void SetUp() override {
        DagTableEmpty();
        CDagTableLocker lock;
        DagTableAdd("KV00007", 7);
    }
    void TearDown() override {
        clock::UseSystemClock();
        DagTableEmpty();
    }
};

TEST_P(RaceWeekendTest, EachMidnightMovesTheOffsetAndPassingsCarryTheirDay) {
    const RaceWeekendCase& c = GetParam();
    ExpectZoneInstalled(c.zone);
    ScopedTimeZone zone(c.zone);
    CoreHarness harness;
    Core& core = harness.core();
    clock::SetNowForTesting({At(c.start), 0});
    core.LoadGeneralSettings();
    core.State().flowOpen = true;
    core.StartRaceDayTimer();
    harness.timers.Advance(500);
    ASSERT_EQ(core.State().raceDays, c.raceDays);
    ASSERT_EQ(core.State().daysToAdd, 0);

    for (int day = 1; day < 4; ++day) {
        SCOPED_TRACE(c.raceDays[static_cast<size_t>(day)]);
        // Half a second after the local midnight that begins race day `day`.
        clock::SetNowForTesting(
            {clock::MakeLocal(c.start.year, c.start.month, c.start.day + day), 500});
        harness.timers.Advance(500);
        EXPECT_EQ(core.State().daysToAdd, day);
        EXPECT_EQ(ReadIniInt("Settings", "TDaysToAdd", -9), day);
        EXPECT_EQ(harness.status.dayOffset, day);

        const std::string boxDate = c.raceDays[static_cast<size_t>(day)];
        core.Processor().ProcessPassing(
            test::MakePassing("Loop1", "KV00007", "00:10:05.250", boxDate));
        DeliverPosted();
        const std::string expected = std::to_string(day * 24) + ":10:05.25";
        EXPECT_EQ(core.HostOutbox().Waiting().back().text,
                  "AddDagClock(1\tLoop1\t7\t1\t" + expected + ")");
    }
}

INSTANTIATE_TEST_SUITE_P(
    ClockChangesAndNewYear, RaceWeekendTest,
    ::testing::Values(RaceWeekendCase{"Europe/Paris",
                                      {2026, 3, 27, 23, 30},
                                      {"20260327", "20260328", "20260329", "20260330"}},
                      RaceWeekendCase{"Europe/Paris",
                                      {2026, 10, 24, 0, 30},
                                      {"20261024", "20261025", "20261026", "20261027"}},
                      RaceWeekendCase{"America/New_York",
                                      {2026, 3, 6, 23, 30},
                                      {"20260306", "20260307", "20260308", "20260309"}},
                      RaceWeekendCase{"America/New_York",
                                      {2026, 10, 31, 0, 30},
                                      {"20261031", "20261101", "20261102", "20261103"}},
                      RaceWeekendCase{"Asia/Tokyo",
                                      {2026, 12, 30, 23, 30},
                                      {"20261230", "20261231", "20270101", "20270102"}},
                      RaceWeekendCase{"Europe/Paris",
                                      {2026, 12, 30, 0, 30},
                                      {"20261230", "20261231", "20270101", "20270102"}}),
    test::PrintedName());

// A detection typed on a day of 23 or 25 hours keeps the time of day the operator typed.
struct ManualTimeCase {
    const char* zone;
    LocalTime now;
    const char* typed;
    int dayOffset;
    const char* raceTime;
};

void PrintTo(const ManualTimeCase& c, std::ostream* out) {
    *out << Describe(c.zone, c.now) << ", " << c.typed << " +" << c.dayOffset * 24 << "h";
}

class ManualTimeTest : public ::testing::TestWithParam<ManualTimeCase> {
protected:
    void TearDown() override { clock::UseSystemClock(); }
};

TEST_P(ManualTimeTest, KeepsTheTypedTimeOfDay) {
    const ManualTimeCase& c = GetParam();
    ExpectZoneInstalled(c.zone);
    ScopedTimeZone zone(c.zone);
    CoreHarness harness;
    clock::SetNowForTesting({At(c.now), 0});
    TypedManualDetection typed([](const std::string& refusal) { ADD_FAILURE() << refusal; });
    typed.AttachState(harness.core().State());
    harness.manual.delegate = &typed;
    typed.SetRequest({"7", c.typed, std::nullopt, c.dayOffset});

    harness.core().InsertManualDetection();
    ASSERT_FALSE(harness.core().HostOutbox().Waiting().empty());
    EXPECT_EQ(harness.core().HostOutbox().Waiting().back().text,
              std::string("AddDagClock(1\t31     CLASSIC\t7\t1\t") + c.raceTime + ")");
}

INSTANTIATE_TEST_SUITE_P(
    ClockChanges, ManualTimeTest,
    ::testing::Values(
        ManualTimeCase{"Europe/Paris", {2026, 3, 29, 15, 0}, "09:15:00.50", 1, "33:15:00.50"},
        ManualTimeCase{"Europe/Paris", {2026, 3, 29, 15, 0}, "01:30:00", 1, "25:30:00.00"},
        ManualTimeCase{"Europe/Paris", {2026, 3, 29, 0, 5}, "23:59:59.99", 0, "23:59:59.99"},
        ManualTimeCase{"Europe/Paris", {2026, 10, 25, 15, 0}, "09:15:00.50", 1, "33:15:00.50"},
        ManualTimeCase{"Europe/Paris", {2026, 10, 25, 1, 0}, "23:30:00", 2, "71:30:00.00"},
        ManualTimeCase{"America/New_York", {2026, 3, 8, 12, 0}, "11:00:00", 1, "35:00:00.00"},
        ManualTimeCase{"America/New_York", {2026, 11, 1, 12, 0}, "11:00:00", 3, "83:00:00.00"},
        ManualTimeCase{"Asia/Tokyo", {2026, 12, 31, 23, 0}, "22:59:30", 1, "46:59:30.00"}),
    test::PrintedName());

}  // namespace
}  // namespace torvane
