#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

#include "base/CalendarText.h"
#include "base/Chrono.h"
#include "base/Clock.h"
#include "base/Texts.h"

namespace torvane {
namespace {

// Marks a value so that a failed parse can be seen to leave it alone.
const CChrono kUntouched(777, 42);

struct ParseCase {
    const char* text;
    bool ok;
    std::int32_t seconds;
    std::uint16_t milliseconds;
};

void ExpectParse(const ParseCase& c, bool (CChrono::*parse)(const std::string&)) {
    CChrono value = kUntouched;
    EXPECT_EQ((value.*parse)(c.text), c.ok);
    if (c.ok) {
        EXPECT_EQ(value.seconds, c.seconds);
        EXPECT_EQ(value.milliseconds, c.milliseconds);
    } else {
        EXPECT_EQ(value.seconds, kUntouched.seconds);
        EXPECT_EQ(value.milliseconds, kUntouched.milliseconds);
    }
}

TEST(ChronoParseTime, EveryFormAndFraction) {
    const ParseCase cases[] = {
        {"12:34:56.78", true, 45296, 780},
        {"12.34.56.78", true, 45296, 780},
        {"12.34.56", true, 45296, 0},
        {"12:34:56", true, 45296, 0},
        {"12:34:56.", true, 45296, 0},
        {"12:34", false, 0, 0},
        {"12.34", false, 0, 0},
        {"12:34.56", false, 0, 0},
        {"", false, 0, 0},
        {"noon", false, 0, 0},
        // Fractions are read by their digits.
        {"12:34:56.5", true, 45296, 500},
        {"12:34:56.05", true, 45296, 50},
        {"12:34:56.89", true, 45296, 890},
        {"12:34:56.893", true, 45296, 893},
        {"12:34:56.8937", true, 45296, 893},
        {"12:34:56.00", true, 45296, 0},
        {"0:0:0.0", true, 0, 0},
        // Scanning rules: blanks before numbers, a plus sign, trailing text ignored.
        {"  12:34:56.78", true, 45296, 780},
        {"12: 34: 56", true, 45296, 0},
        {"+12:34:56", true, 45296, 0},
        {"12:34:56.78 extra", true, 45296, 780},
        {"12 :34:56", false, 0, 0},
        // No range check, carried arithmetically.
        {"25:70:80", true, 25 * 3600 + 70 * 60 + 80, 0},
        {"48:0:0.0", true, 172800, 0},
        {"100:00:00.00", true, 360000, 0},
        // Negative numbers are refused, even when a later form would ignore them.
        {"-1:00:00", false, 0, 0},
        {"12:-5:00.00", false, 0, 0},
        {"12:34:56.-5", false, 0, 0},
        {"12.34.-56", false, 0, 0},
        // Times beyond the 32-bit seconds range are refused rather than wrapped.
        {"596523:14:07.99", true, 2147483647, 990},
        {"596523:14:08", false, 0, 0},
        {"99999999999999999999:0:0", false, 0, 0},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        ExpectParse(c, &CChrono::ParseTime);
    }
}

TEST(ChronoParseMilliTime, FourNumbersNormalised) {
    const ParseCase cases[] = {
        {"12:34:56.789", true, 45296, 789},
        {"12.34.56.789", true, 45296, 789},
        {"12:34:56.5", true, 45296, 5},
        {"23:59:59.999", true, 86399, 999},
        {"12:34:56.1234", true, 45297, 234},
        {"00:59:59.1000", true, 3600, 0},
        {"0:90:90.5", true, 5490, 5},
        {"00:00:59.65536", true, 124, 536},
        {"30:00:00.000", true, 108000, 0},
        {"1:2:3.4.5", true, 3723, 4},
        {"12:34:56", false, 0, 0},
        {"12.34.56", false, 0, 0},
        {"12:34:56.", false, 0, 0},
        {"", false, 0, 0},
        {"-1:00:00.000", false, 0, 0},
        {"00:00:00.-1", false, 0, 0},
        {"596523:14:07.999", true, 2147483647, 999},
        {"596523:14:07.1000", false, 0, 0},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        ExpectParse(c, &CChrono::ParseMilliTime);
    }
}

TEST(ChronoFormat, ElapsedTruncatesToHundredthsAndWidensHours) {
    const struct {
        std::int32_t seconds;
        std::uint16_t milliseconds;
        const char* text;
    } cases[] = {
        {0, 0, "00:00:00.00"},       {5, 0, "00:00:05.00"},       {0, 10, "00:00:00.01"},
        {0, 9, "00:00:00.00"},       {45296, 780, "12:34:56.78"}, {86399, 999, "23:59:59.99"},
        {93784, 500, "26:03:04.50"}, {360000, 0, "100:00:00.00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CChrono(c.seconds, c.milliseconds).FormatElapsed(), c.text);
    }
}

TEST(ChronoFormat, ParsedTextPrintsBack) {
    for (const char* text : {"12:34:56.78", "00:00:00.01", "47:59:59.99", "26:03:04.50"}) {
        CChrono value;
        ASSERT_TRUE(value.ParseTime(text));
        EXPECT_EQ(value.FormatElapsed(), text);
    }
}

TEST(ChronoValue, ResetAndIsSet) {
    EXPECT_FALSE(CChrono().IsSet());
    EXPECT_TRUE(CChrono(1, 0).IsSet());
    EXPECT_TRUE(CChrono(0, 1).IsSet());
    EXPECT_TRUE(CChrono(-1, 0).IsSet());
    CChrono value(45296, 780);
    value.Reset();
    EXPECT_FALSE(value.IsSet());
    EXPECT_EQ(value.seconds, 0);
    EXPECT_EQ(value.milliseconds, 0);
}

TEST(ChronoAddition, CarriesOneSecond) {
    const struct {
        CChrono left, right;
        std::int32_t seconds;
        std::uint16_t milliseconds;
    } cases[] = {
        {{0, 600}, {0, 700}, 1, 300},   {{10, 999}, {0, 1}, 11, 0},     {{1, 0}, {2, 0}, 3, 0},
        {{59, 999}, {0, 999}, 60, 998}, {{100, 250}, {0, 0}, 100, 250},
    };
    for (const auto& c : cases) {
        const CChrono sum = c.left + c.right;
        EXPECT_EQ(sum.seconds, c.seconds);
        EXPECT_EQ(sum.milliseconds, c.milliseconds);
    }
}

TEST(ChronoAddition, ParsedDayOffsetAddsWholeDays) {
    CChrono time;
    ASSERT_TRUE(time.ParseTime("23:59:59.99"));
    for (int days = 0; days <= 3; ++days) {
        SCOPED_TRACE(days);
        CChrono offset;
        ASSERT_TRUE(offset.ParseTime(Format("%d:0:0.0", days * 24)));
        const CChrono viaText = time + offset;
        CChrono viaDays = time;
        viaDays.AddDays(days);
        EXPECT_EQ(viaText.seconds, time.seconds + days * 86400);
        EXPECT_EQ(viaText.milliseconds, time.milliseconds);
        EXPECT_EQ(viaDays.seconds, viaText.seconds);
        EXPECT_EQ(viaDays.milliseconds, viaText.milliseconds);
    }
    CChrono nextDay = time;
    nextDay.AddDays(1);
    EXPECT_EQ(nextDay.FormatElapsed(), "47:59:59.99");
    nextDay.AddDays(-1);
    EXPECT_EQ(nextDay.FormatElapsed(), "23:59:59.99");
}

// A race time is a signed 32-bit count of seconds: days that would carry it past the largest
// one are refused, where they used to wrap to a negative time.
TEST(ChronoAddition, DaysThatWouldPassTheLargestTimeAreRefused) {
    constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();
    const struct {
        std::int32_t seconds;
        int days;
        bool ok;
        std::int32_t after;
    } cases[] = {
        {kLargest - 86400, 1, true, kLargest},
        {kLargest - 86399, 1, false, kLargest - 86399},
        {596523 * 3600, 2, false, 596523 * 3600},
        {596523 * 3600, 0, true, 596523 * 3600},
        {kLargest, 0, true, kLargest},
        {0, 3, true, 3 * 86400},
    };
    for (const auto& c : cases) {
        CChrono value(c.seconds, 990);
        EXPECT_EQ(value.AddDays(c.days), c.ok) << c.seconds << " + " << c.days;
        EXPECT_EQ(value.seconds, c.after);
        EXPECT_EQ(value.milliseconds, 990);
    }
}

// Local-time operations run in a zone east of UTC, with daylight saving rules, so that a
// mix-up of local and universal time shows.
class ChronoLocalTime : public ::testing::Test {
protected:
    // 8 December 2026 03:17:05 in that zone, and its local midnight.
    static constexpr std::int64_t kEarlyMorning = 1796696225;
    static constexpr std::int64_t kMidnight = 1796684400;
    static constexpr std::int64_t kAfternoon = 1796736600;  // 14:30:00

    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
        ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        ::tzset();
    }

    void TearDown() override {
        clock::UseSystemClock();
        if (savedTz_) {
            ::setenv("TZ", savedTz_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

    static void SetClock(std::int64_t seconds, int milliseconds = 0) {
        clock::SetNowForTesting(clock::Instant{seconds, milliseconds});
    }

    static void SetClockToNoonOf(int year, int month, int day) {
        SetClock(clock::MakeLocal(year, month, day, 12));
    }

private:
    std::optional<std::string> savedTz_;
};

TEST_F(ChronoLocalTime, SetNowTakesTheClock) {
    SetClock(kEarlyMorning, 893);
    CChrono now;
    now.SetNow();
    EXPECT_EQ(now.seconds, kEarlyMorning);
    EXPECT_EQ(now.milliseconds, 893);
}

TEST_F(ChronoLocalTime, ClockFormsShowLocalTime) {
    const CChrono instant(static_cast<std::int32_t>(kEarlyMorning), 893);
    EXPECT_EQ(instant.FormatClock(), "03:17:05.89");
    EXPECT_EQ(instant.FormatClockSeconds(), "03:17:05");
    EXPECT_EQ(CChrono().FormatClock(), "00:00:00.00");
    EXPECT_EQ(CChrono().FormatClockSeconds(), "00:00:00");
}

TEST_F(ChronoLocalTime, TodayMidnightAndBackReducesModuloTheDay) {
    SetClock(kAfternoon);
    const struct {
        const char* timeOfDay;
        std::int32_t backSeconds;
        const char* clockText;
    } cases[] = {
        {"10:15:30.25", 36930, "10:15:30.25"},
        {"00:00:00.50", 0, "00:00:00.50"},
        {"25:00:00.50", 3600, "01:00:00.50"},
        {"49:30:00.00", 5400, "01:30:00.00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timeOfDay);
        CChrono value;
        ASSERT_TRUE(value.ParseTime(c.timeOfDay));
        const CChrono elapsed = value;
        value.AddTodayMidnight();
        EXPECT_EQ(value.seconds, kMidnight + elapsed.seconds);
        EXPECT_EQ(value.FormatClock(), c.clockText);
        value.ToTimeOfDay();
        EXPECT_EQ(value.seconds, c.backSeconds);
        EXPECT_EQ(value.milliseconds, elapsed.milliseconds);
    }
}

TEST_F(ChronoLocalTime, MidnightOfTodayFollowsTheClock) {
    SetClock(kMidnight + 86400 - 1);
    CChrono lastSecond;
    lastSecond.AddTodayMidnight();
    EXPECT_EQ(lastSecond.seconds, kMidnight);
    SetClock(kMidnight + 86400);
    CChrono nextDay;
    nextDay.AddTodayMidnight();
    EXPECT_EQ(nextDay.seconds, kMidnight + 86400);
}

TEST_F(ChronoLocalTime, CalendarTextsCrossMonthYearAndLeapDay) {
    const struct {
        int year, month, day, offset;
        const char* text;
    } cases[] = {
        {2026, 12, 8, -1, "20261207"}, {2026, 12, 8, 0, "20261208"}, {2026, 12, 31, 1, "20270101"},
        {2027, 1, 1, -1, "20261231"},  {2026, 1, 31, 1, "20260201"}, {2028, 3, 1, -1, "20280229"},
        {2028, 2, 28, 1, "20280229"},  {2027, 3, 1, -1, "20270228"}, {2026, 3, 28, 1, "20260329"},
        {2026, 12, 8, 30, "20270107"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SetClockToNoonOf(c.year, c.month, c.day);
        EXPECT_EQ(OffsetDateText(c.offset), c.text);
    }
}

TEST_F(ChronoLocalTime, TodayAndNowTexts) {
    SetClock(kEarlyMorning);
    EXPECT_EQ(TodayDateText(), "20261208");
    EXPECT_EQ(NowTimeText(), "031705");
    SetClock(kMidnight - 1);
    EXPECT_EQ(TodayDateText(), "20261207");
    EXPECT_EQ(NowTimeText(), "235959");
}

}  // namespace
}  // namespace torvane
