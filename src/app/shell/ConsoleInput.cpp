#include "app/shell/ConsoleInput.h"
#include "app/shell/StandardOutput.h"

#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <QEventLoop>
#include <QMetaObject>
#include <cstdio>
#include <cstdlib>

namespace torvane {
namespace {

ConsoleInput* editedConsole = nullptr;

void OnEditedLine(char* line) {
    std::optional<std::string> text;
    if (line) {
        text = line;
        std::free(line);
    }
    if (editedConsole) editedConsole->TakeEditedLine(std::move(text));
}

void WriteOut(const std::string& text) {
    WriteStandardOutput(text);
}

}  // namespace

bool ConsoleInput::IsTerminal() {
    return ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
}

ConsoleInput::ConsoleInput(LineHandler onLine, std::string prompt)
    : onLine_(std::move(onLine)), prompt_(std::move(prompt)), terminal_(IsTerminal()) {
    notifier_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
    if (terminal_) {
        // The program catches its stop signals itself, and keeps its environment as it is.
        rl_catch_signals = 0;
        rl_change_environment = 0;
        StartEditing(prompt_);
    }
}

ConsoleInput::~ConsoleInput() {
    Close();
}

void ConsoleInput::Close() {
    if (closed_) return;
    closed_ = true;
    if (editing_) {
        StopEditing();
        WriteOut("\n");
    }
    notifier_->setEnabled(false);
    if (takeAnswer_) std::exchange(takeAnswer_, nullptr)(std::nullopt);
}

void ConsoleInput::StartEditing(const std::string& prompt) {
    editedConsole = this;
    editing_ = true;
    rl_callback_handler_install(prompt.c_str(), OnEditedLine);
    notifier_->setEnabled(true);
}

// Called from within the line editor too: it then leaves the terminal as it found it and draws
// no new prompt.
void ConsoleInput::StopEditing() {
    if (!editing_) return;
    editing_ = false;
    rl_callback_handler_remove();
    if (editedConsole == this) editedConsole = nullptr;
    notifier_->setEnabled(false);
}

void ConsoleInput::OnReadable() {
    if (!terminal_) {
        ReadPlainLines();
    } else if (editing_) {
        rl_callback_read_char();
    } else {
        notifier_->setEnabled(false);
    }
}

void ConsoleInput::TakeEditedLine(std::optional<std::string> line) {
    StopEditing();
    if (line && !line->empty()) add_history(line->c_str());
    Queue(std::move(line));
}

void ConsoleInput::ReadPlainLines() {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        notifier_->setEnabled(false);
        if (!pending_.empty()) Queue(std::exchange(pending_, {}));
        Queue(std::nullopt);
        return;
    }
    pending_.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = pending_.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Queue(std::move(line));
    }
    pending_.erase(0, start);
}

void ConsoleInput::Queue(std::optional<std::string> line) {
    queued_.push_back(std::move(line));
    if (deliveryPosted_) return;
    deliveryPosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            deliveryPosted_ = false;
            DeliverQueued();
        },
        Qt::QueuedConnection);
}

// Lines go one by one, in order: to the question being asked if there is one, else to the
// command handler. A delivery that happens while a command runs (in its question's event loop)
// only answers the question; the lines after it wait for the command to end.
void ConsoleInput::DeliverQueued() {
    if (takeAnswer_ && !queued_.empty()) {
        auto answer = std::move(queued_.front());
        queued_.pop_front();
        if (!answer) ReachEnd();
        if (takeAnswer_) std::exchange(takeAnswer_, nullptr)(std::move(answer));
        return;
    }
    if (delivering_) return;
    delivering_ = true;
    while (!queued_.empty() && !closed_) {
        auto line = std::move(queued_.front());
        queued_.pop_front();
        if (!line) {
            ReachEnd();
        } else if (onLine_) {
            onLine_(*line);
        }
    }
    delivering_ = false;
    if (terminal_ && !atEnd_ && !closed_ && !editing_) StartEditing(prompt_);
}

void ConsoleInput::ReachEnd() {
    if (atEnd_) return;
    atEnd_ = true;
    StopEditing();
    notifier_->setEnabled(false);
    if (terminal_) WriteOut("\n");
}

void ConsoleInput::Print(const std::string& text) {
    if (!editing_) {
        WriteOut(text);
        return;
    }
    // Clear the prompt and the line being typed, print, then draw them again below.
    rl_clear_visible_line();
    WriteOut(text);
    rl_on_new_line();
    rl_redisplay();
}

std::optional<std::string> ConsoleInput::AskLine(const std::string& question) {
    if (atEnd_ || closed_) return std::nullopt;
    std::optional<std::string> answer;
    QEventLoop loop;
    takeAnswer_ = [&](std::optional<std::string> line) {
        answer = std::move(line);
        loop.quit();
    };
    if (terminal_) {
        StartEditing(question);
    } else {
        Print(question + "\n");
        if (!queued_.empty()) DeliverQueued();
    }
    if (takeAnswer_) loop.exec();
    takeAnswer_ = nullptr;
    // Stopped before an answer came: the question's prompt goes away.
    if (editing_) {
        StopEditing();
        WriteOut("\n");
    }
    return answer;
}

}  // namespace torvane
