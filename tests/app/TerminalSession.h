#pragma once

// Runs the real torvane program on a pseudo-terminal, as an operator runs it in a terminal
// window, and keeps what it wrote both as raw bytes and as the lines a terminal would show.

#include <sys/types.h>

#include <QProcessEnvironment>
#include <optional>
#include <string>
#include <vector>

namespace torvane::test {

class TerminalSession {
public:
    TerminalSession() = default;
    ~TerminalSession();
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    bool Start(const QProcessEnvironment& environment, const std::vector<std::string>& arguments);
    // Keys as typed ("\r" is Enter, "\x04" is Ctrl-D).
    void Type(const std::string& keys);
    // Waits until text appears at or after `from` in the raw output; the position after it.
    std::optional<size_t> WaitFor(const std::string& text, size_t from, int timeoutMs = 10000);
    void Signal(int signalNumber);
    // Waits for the program's end; its exit code, or nothing (still running, or killed).
    std::optional<int> WaitForExit(int timeoutMs = 10000);

    const std::string& Raw() const { return raw_; }
    // The lines on the screen, trailing blanks removed, the text never scrolled away.
    std::vector<std::string> Screen() const;

private:
    bool ReadAvailable(int waitMs);

    pid_t pid_ = -1;
    int master_ = -1;
    std::string raw_;
    std::optional<int> exitCode_;
};

// Draws raw terminal output the way a terminal does: carriage return, line feed, backspace and
// erasing to the end of the line, UTF-8 characters one cell each; other controls are ignored.
std::vector<std::string> RenderTerminal(const std::string& raw);

}  // namespace torvane::test
