#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace torvane {

// Reads operator command lines from standard input without blocking the event loop: with
// line editing and history on a terminal, plain lines otherwise. The end of input only stops
// the reading. Output goes through Print so that it never tears a line being typed.
//
// On a terminal the line editor is put away while a command runs: the command's output is
// written as it is, a question the command asks gets the editor back with the question as its
// prompt, and the prompt is drawn again, once, when the command is over. Lines are handed to
// the command from the event loop, not from within the line editor.
class ConsoleInput : public QObject {
public:
    using LineHandler = std::function<void(const std::string&)>;

    ConsoleInput(LineHandler onLine, std::string prompt);
    ~ConsoleInput() override;

    static bool IsTerminal();
    bool AtEnd() const { return atEnd_; }

    // Writes text (one or more whole lines, each ending in "\n") to standard output.
    void Print(const std::string& text);

    // Shows the question and reads the answer in a nested event loop, so the network keeps
    // being served meanwhile; nothing when the input has ended or the program is stopping.
    std::optional<std::string> AskLine(const std::string& question);

    // Reads no more input and leaves the terminal as it found it (the program is stopping).
    void Close();

    // Called by the line editor with each line it completes (nothing at the end of input).
    void TakeEditedLine(std::optional<std::string> line);

private:
    void OnReadable();
    void ReadPlainLines();
    void Queue(std::optional<std::string> line);
    void DeliverQueued();
    void ReachEnd();
    void StartEditing(const std::string& prompt);
    void StopEditing();

    LineHandler onLine_;
    std::string prompt_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string pending_;                            // a plain line not ended yet
    std::deque<std::optional<std::string>> queued_;  // lines to hand over; nothing is the end
    bool deliveryPosted_ = false;
    bool delivering_ = false;
    bool terminal_ = false;
    bool editing_ = false;
    bool atEnd_ = false;
    bool closed_ = false;
    std::function<void(std::optional<std::string>)> takeAnswer_;
};

}  // namespace torvane
