#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace torvane {

// Reads operator command lines from standard input without blocking the event loop: with
// line editing and history on a terminal, plain lines otherwise. The end of input only stops
// the reading. Output goes through Print so that it never tears a line being typed.
class ConsoleInput : public QObject {
public:
    using LineHandler = std::function<void(const std::string&)>;

    ConsoleInput(LineHandler onLine, std::string prompt);
    ~ConsoleInput() override;

    static bool IsTerminal();
    bool AtEnd() const { return atEnd_; }

    // Writes text (one or more whole lines, each ending in "\n") to standard output.
    void Print(const std::string& text);

    // Reads the next line in a nested event loop, so the network keeps being served meanwhile;
    // nothing when the input has ended.
    std::optional<std::string> AskLine(const std::string& question);

    // Called with each complete line (also by the line editor's callback).
    void HandleLine(const std::string& line);
    void HandleEnd();

private:
    void OnReadable();

    LineHandler onLine_;
    std::string prompt_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string pending_;
    bool terminal_ = false;
    bool atEnd_ = false;
    std::function<void(std::optional<std::string>)> takeNextLine_;
};

}  // namespace torvane
