#pragma once

#include <string>
#include <utility>
#include <vector>

namespace torvane {

class TextListModel;

// The one logging call for all code, from any thread: posts the line to the user-interface
// thread, where the log service shows it (by window level) and writes it to the log file.
void Log(int level, std::string text);
// Forgets lines that no handler will take (the message target is changing).
void DiscardPendingLogLines();
// Takes the lines waiting for the user-interface thread (the log service, and tests that
// watch the log without a whole program).
std::vector<std::pair<int, std::string>> TakePendingLogLines();

// Appends one stamped line to the log file at once ("stamp: text"); a text that begins with a
// line feed writes an empty line instead. A file that cannot be opened loses the line.
void LogToFile(const std::string& text);

std::string GetLogFolder();
// Fixed at start-up by FixLogFilePath and kept for the run.
std::string GetLogFilePath();
void FixLogFilePath();
std::string GetDayLogFolder();

std::string LogStampText();  // DDMMYYYY-HHMMSS
std::string ClockText();     // HH:MM:SS

// Start banner and stop line, written directly to the log file.
void WriteStartBanner();
void WriteStopLine();

// Replaces CR by "<CR>" and LF by "<LF>", so one call always gives one line.
std::string EscapeLineEnds(const std::string& text);

extern const char* const kVersionText;
// "Démarrage Torvane - Version 1.70b - 24 jun 2o26": the first line of every run.
std::string StartLineText();

// Shows and files the posted log lines, on the user-interface thread.
class LogService {
public:
    static constexpr int kFileLevel = 120;

    explicit LogService(TextListModel& logList) : logList_(logList) {}

    // Takes every line logged since the last call, in order (the WM_LOG_LINE handler).
    void DispatchPending();
    void Dispatch(int level, const std::string& text);

    int WindowLevel() const { return windowLevel_; }
    void SetWindowLevel(int level) { windowLevel_ = level; }

    // An observer of every line that reaches the window (the headless front-end prints them).
    using LineObserver = void (*)(void* context, const std::string& shownLine);
    void SetShownLineObserver(LineObserver observer, void* context) {
        observer_ = observer;
        observerContext_ = context;
    }

private:
    TextListModel& logList_;
    int windowLevel_ = 50;
    LineObserver observer_ = nullptr;
    void* observerContext_ = nullptr;
};

}  // namespace torvane
