#include "base/Logging.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <locale>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "base/CalendarText.h"
#include "base/Clock.h"
#include "base/FileAppend.h"
#include "base/PostedMessage.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"

namespace torvane {
namespace {

std::mutex logPathMutex;
std::optional<std::string> logFilePath;

std::tm LocalNow() {
    std::tm tm{};
    clock::LocalTime(clock::Now().seconds, tm);
    return tm;
}

// Lines logged on any thread, waiting for the user-interface thread. Only the first line of a
// burst posts a message; the handler takes the whole burst at once.
std::mutex pendingMutex;
std::vector<std::pair<int, std::string>> pendingLines;
// Lines logged before any target existed, kept for the first line that reaches one.
std::vector<std::pair<int, std::string>> heldLines;

// Inside a burst the file lines are gathered and written with one open, write and close.
int fileBatchDepth = 0;
std::string fileBatch;

// The log file's own failures. The first failed write of a run of failures is shown in the
// window (it cannot go to the file); the first write that succeeds again says what was lost.
std::atomic<int> failedLogFileWrites{0};
bool logFileFailing = false;
int linesLostThisEpisode = 0;

void NoteLogFileFailure(const std::string& bytes, const std::string& reason) {
    ++failedLogFileWrites;
    linesLostThisEpisode += static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n'));
    if (logFileFailing) return;
    logFileFailing = true;
    // At start-up the window may not exist yet: the line waits for it.
    LogEvenBeforeStart(0, Format(Tr("$$$ Cannot write the log file (%s)",
                                    "$$$ Écriture du journal impossible (%s)"),
                                 reason.c_str()));
}

void NoteLogFileWritten() {
    if (!logFileFailing) return;
    logFileFailing = false;
    Log(0, Format(Tr("+++ The log file is written again (%d lines lost)",
                     "+++ Le journal est de nouveau écrit (%d lignes perdues)"),
                  linesLostThisEpisode));
    linesLostThisEpisode = 0;
}

void WriteToLogFile(const std::string& bytes) {
    const std::string failure = AppendWholeToFile(GetLogFilePath(), bytes);
    if (failure.empty()) {
        NoteLogFileWritten();
    } else {
        NoteLogFileFailure(bytes, failure);
    }
}

void AppendToLogFile(const std::string& bytes) {
    if (fileBatchDepth > 0) {
        fileBatch += bytes;
        return;
    }
    WriteToLogFile(bytes);
}

// Thousands of lines a second share a handful of seconds: each stamp text is made once per
// second of the clock, not once per line.
template <typename Make>
const std::string& TextOfThisSecond(std::int64_t& madeFor, std::string& text, Make make) {
    const std::int64_t now = clock::Now().seconds;
    if (text.empty() || madeFor != now) {
        madeFor = now;
        text = make(now);
    }
    return text;
}

const std::string& CachedLogStamp() {
    thread_local std::int64_t madeFor = 0;
    thread_local std::string text;
    return TextOfThisSecond(madeFor, text, [](std::int64_t seconds) {
        std::tm tm{};
        clock::LocalTime(seconds, tm);
        return Format("%02d%02d%04d-%02d%02d%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900,
                      tm.tm_hour, tm.tm_min, tm.tm_sec);
    });
}

const std::string& CachedClockText() {
    thread_local std::int64_t madeFor = 0;
    thread_local std::string text;
    return TextOfThisSecond(madeFor, text, [](std::int64_t seconds) {
        std::tm tm{};
        clock::LocalTime(seconds, tm);
        return Format("%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    });
}

}  // namespace

LogFileBatch::LogFileBatch() {
    ++fileBatchDepth;
}

LogFileBatch::~LogFileBatch() {
    if (--fileBatchDepth == 0 && !fileBatch.empty()) {
        WriteToLogFile(fileBatch);
        fileBatch.clear();
    }
}

bool HasLineEnds(const std::string& text) {
    // Two scans with memchr: find_first_of would test every character against the set.
    return std::memchr(text.data(), '\r', text.size()) ||
           std::memchr(text.data(), '\n', text.size());
}

const char* const kVersionText = "Version 1.70b - 24 jun 2o26";

std::string StartLineText() {
    // The version text starts with the word "Version", which the start line names only once.
    return Tr("Starting Torvane - ", "Démarrage Torvane - ") + std::string(kVersionText);
}

void Log(int level, std::string text) {
    std::lock_guard lock(pendingMutex);
    const bool firstOfBurst = pendingLines.empty();
    pendingLines.emplace_back(level, std::move(text));
    if (!firstOfBurst) return;
    if (!PostToTarget(WM_LOG_LINE, level)) {
        pendingLines.clear();
        return;
    }
    // The first line that reaches the window brings the lines held since before it existed.
    std::move(heldLines.begin(), heldLines.end(), std::back_inserter(pendingLines));
    heldLines.clear();
}

void LogEvenBeforeStart(int level, std::string text) {
    if (MessageTargetExists()) {
        Log(level, std::move(text));
        return;
    }
    std::lock_guard lock(pendingMutex);
    heldLines.emplace_back(level, std::move(text));
}

int LogFileFailedWrites() {
    return failedLogFileWrites;
}

void DiscardPendingLogLines() {
    std::lock_guard lock(pendingMutex);
    pendingLines.clear();
}

void LogToFile(const std::string& text) {
    if (!text.empty() && text.front() == '\n') {
        AppendToLogFile("\n");
        return;
    }
    const std::string& stamp = CachedLogStamp();
    if (fileBatchDepth > 0) {
        fileBatch.append(stamp).append(": ").append(text).push_back('\n');
        return;
    }
    AppendToLogFile(stamp + ": " + text + "\n");
}

std::string GetLogFolder() {
    return GetDataFolder() + "/LogFiles";
}

std::string GetLogFilePath() {
    {
        std::lock_guard lock(logPathMutex);
        if (logFilePath) return *logFilePath;
    }
    return GetLogFolder() + "/Torvane-log.txt";
}

void FixLogFilePath() {
    const std::string path = GetLogFolder() + "/Torvane-log.txt";
    std::lock_guard lock(logPathMutex);
    logFilePath = path;
}

std::string GetDayLogFolder() {
    return GetLogFolder() + "/Logs-" + TodayDateText();
}

const std::string& LogStampText() {
    return CachedLogStamp();
}

const std::string& ClockText() {
    return CachedClockText();
}

namespace {

// "Tuesday, December 08, 2026  at 14h03mn27s": day and month names in English whatever the
// locale, formatted without the process's locale, which other threads may be using.
std::string BannerTimeText(const std::tm& tm) {
    static const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                        "Thursday", "Friday", "Saturday"};
    static const char* const kMonths[] = {"January",   "February", "March",    "April",
                                          "May",       "June",     "July",     "August",
                                          "September", "October",  "November", "December"};
    const bool known = tm.tm_wday >= 0 && tm.tm_wday < 7 && tm.tm_mon >= 0 && tm.tm_mon < 12;
    return Format("%s, %s %02d, %d  at %02dh%02dmn%02ds", known ? kDays[tm.tm_wday] : "?",
                  known ? kMonths[tm.tm_mon] : "?", tm.tm_mday, tm.tm_year + 1900, tm.tm_hour,
                  tm.tm_min, tm.tm_sec);
}

}  // namespace

void WriteStartBanner() {
    const std::string when = BannerTimeText(LocalNow());
    const std::string stars(54, '*');
    AppendToLogFile("\n");
    AppendToLogFile(stars + "\n");
    AppendToLogFile(Format("* %s  (%s) Started %s\n", "Torvane", kVersionText, when.c_str()));
    AppendToLogFile(stars + "\n");
}

void WriteStopLine() {
    AppendToLogFile(Format("%s: *** Regular %s stop\n", LogStampText().c_str(), "Torvane"));
}

std::string EscapeLineEnds(const std::string& text) {
    if (!HasLineEnds(text)) return text;
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '\r')
            escaped += "<CR>";
        else if (c == '\n')
            escaped += "<LF>";
        else
            escaped += c;
    }
    return escaped;
}

std::vector<std::pair<int, std::string>> TakePendingLogLines() {
    std::vector<std::pair<int, std::string>> lines;
    std::lock_guard lock(pendingMutex);
    lines.swap(pendingLines);
    return lines;
}

}  // namespace torvane
