#include "base/CalendarText.h"

#include <ctime>

#include "base/Clock.h"
#include "base/Texts.h"

namespace torvane {
namespace {

std::string DateText(std::int64_t seconds, const char* format) {
    std::tm tm{};
    if (!clock::LocalTime(seconds, tm)) return Format(format, 0, 0, 0);
    return Format(format, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

}  // namespace

std::string TodayDateText() {
    return DateText(clock::Now().seconds, "%4d%02d%02d");
}

std::string OffsetDateText(int dayCount) {
    return DateText(clock::Now().seconds + static_cast<std::int64_t>(dayCount) * 86400,
                    "%d%02d%02d");
}

std::string NowTimeText() {
    std::tm tm{};
    if (!clock::LocalTime(clock::Now().seconds, tm)) return Format("%02d%02d%02d", -1, -1, -1);
    return Format("%02d%02d%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace torvane
