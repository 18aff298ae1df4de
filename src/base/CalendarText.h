#pragma once

#include <string>

// Dates and clock times of "now", as race-day bookkeeping, day folders and DAG names use them.
namespace torvane {

std::string TodayDateText();               // YYYYMMDD
std::string OffsetDateText(int dayCount);  // YYYYMMDD of today + dayCount calendar days
std::string NowTimeText();                 // HHMMSS

}  // namespace torvane
