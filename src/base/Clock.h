#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// The one place the program reads the time from. Tests set it, so midnight, race days
// and time-outs are tested without waiting.
namespace torvane::clock {

struct Instant {
    std::int64_t seconds = 0;  // since 1 January 1970 UTC
    int milliseconds = 0;      // 0 to 999
};

Instant Now();
// Now, in milliseconds since 1 January 1970 UTC.
std::int64_t NowMs();

// The local zone's offset from UTC at an absolute instant, in seconds.
int UtcOffsetSeconds(std::int64_t seconds);

// Local broken-down time of an absolute instant; false when the conversion fails.
bool LocalTime(std::int64_t seconds, std::tm& out);
// An absolute instant (ms) in local time, written with a strftime format.
std::string LocalTimeText(std::int64_t utcMs, const char* format);

// Freezes the clock at the given instant (until AdvanceBy or UseSystemClock).
void SetNowForTesting(Instant instant);
void AdvanceByForTesting(std::int64_t milliseconds);
void UseSystemClock();

// Absolute instant of a local date and time (daylight saving resolved by the runtime).
std::int64_t MakeLocal(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

}  // namespace torvane::clock
