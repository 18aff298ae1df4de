#include "base/CalendarText.h"

#include <QDate>
#include <ctime>

#include "base/Clock.h"
#include "base/Texts.h"

namespace torvane {
namespace {

// The local calendar date of now, or nothing when the conversion fails.
QDate LocalDateOfNow() {
    std::tm tm{};
    if (!clock::LocalTime(clock::Now().seconds, tm)) return {};
    return QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::string DateText(const QDate& date, const char* format) {
    if (!date.isValid()) return Format(format, 0, 0, 0);
    return Format(format, date.year(), date.month(), date.day());
}

}  // namespace

std::string TodayDateText() {
    return DateText(LocalDateOfNow(), "%4d%02d%02d");
}

std::string OffsetDateText(int dayCount) {
    // Counted in calendar days: a day with a clock change lasts 23 or 25 hours.
    const QDate today = LocalDateOfNow();
    return DateText(today.isValid() ? today.addDays(dayCount) : today, "%d%02d%02d");
}

std::string NowTimeText() {
    std::tm tm{};
    if (!clock::LocalTime(clock::Now().seconds, tm)) return Format("%02d%02d%02d", -1, -1, -1);
    return Format("%02d%02d%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace torvane
