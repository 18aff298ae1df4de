#pragma once

#include <string>
#include <utility>
#include <vector>

namespace torvane {

// The one logging call for all code, from any thread: posts the line to the user-interface
// thread, where the log service shows it (by window level) and writes it to the log file.
void Log(int level, std::string text);
// Like Log, but a line logged before the activity window exists waits for the first line that
// reaches it instead of being lost (what start-up finds before it can show anything).
void LogEvenBeforeStart(int level, std::string text);
// Forgets lines that no handler will take (the message target is changing).
void DiscardPendingLogLines();
// Takes the lines waiting for the user-interface thread (the log service, and tests that
// watch the log without a whole program).
std::vector<std::pair<int, std::string>> TakePendingLogLines();

// Appends one stamped line to the log file at once ("stamp: text"); a text that begins with a
// line feed writes an empty line instead. A write that fails loses its lines: the first failure
// of a run of them is shown in the window with the system's reason, and the first write that
// succeeds again logs how many lines were lost.
void LogToFile(const std::string& text);
// Writes of the log file that failed since the start.
int LogFileFailedWrites();

std::string GetLogFolder();
// Fixed at start-up by FixLogFilePath and kept for the run.
std::string GetLogFilePath();
void FixLogFilePath();
std::string GetDayLogFolder();

// Made once per second of the clock and per thread, not once per line.
const std::string& LogStampText();  // DDMMYYYY-HHMMSS
const std::string& ClockText();     // HH:MM:SS

// While one exists on the user-interface thread, the lines for the log file are gathered and
// written with one open, write and close when the last one ends.
class LogFileBatch {
public:
    LogFileBatch();
    ~LogFileBatch();
    LogFileBatch(const LogFileBatch&) = delete;
    LogFileBatch& operator=(const LogFileBatch&) = delete;
};

// Start banner and stop line, written directly to the log file.
void WriteStartBanner();
void WriteStopLine();

// Replaces CR by "<CR>" and LF by "<LF>", so one call always gives one line.
std::string EscapeLineEnds(const std::string& text);
bool HasLineEnds(const std::string& text);

extern const char* const kVersionText;
// "Démarrage Torvane - Version 1.70b - 24 jun 2o26": the first line of every run.
std::string StartLineText();

}  // namespace torvane
