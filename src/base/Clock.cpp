#include "base/Clock.h"

#include <atomic>
#include <chrono>
#include <mutex>

namespace torvane::clock {
namespace {

std::mutex fixedMutex;
bool fixed = false;
Instant fixedInstant;

}  // namespace

Instant Now() {
    {
        std::lock_guard lock(fixedMutex);
        if (fixed) return fixedInstant;
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return Instant{ms / 1000, static_cast<int>(ms % 1000)};
}

std::int64_t NowMs() {
    const Instant now = Now();
    return now.seconds * 1000 + now.milliseconds;
}

int UtcOffsetSeconds(std::int64_t seconds) {
    std::tm tm{};
    return LocalTime(seconds, tm) ? static_cast<int>(tm.tm_gmtoff) : 0;
}

bool LocalTime(std::int64_t seconds, std::tm& out) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    return localtime_r(&t, &out) != nullptr;
}

std::string LocalTimeText(std::int64_t utcMs, const char* format) {
    std::tm local{};
    char text[64] = "";
    if (LocalTime(utcMs / 1000, local)) std::strftime(text, sizeof text, format, &local);
    return text;
}

void SetNowForTesting(Instant instant) {
    std::lock_guard lock(fixedMutex);
    fixed = true;
    fixedInstant = instant;
}

void AdvanceByForTesting(std::int64_t milliseconds) {
    std::lock_guard lock(fixedMutex);
    std::int64_t total = fixedInstant.seconds * 1000 + fixedInstant.milliseconds + milliseconds;
    fixedInstant = Instant{total / 1000, static_cast<int>(total % 1000)};
}

void UseSystemClock() {
    std::lock_guard lock(fixedMutex);
    fixed = false;
}

std::int64_t MakeLocal(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm));
}

}  // namespace torvane::clock
