#include "app/shell/ConsoleInput.h"

#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <QEventLoop>
#include <cstdio>
#include <cstdlib>

namespace torvane {
namespace {

ConsoleInput* editedConsole = nullptr;

void OnEditedLine(char* line) {
    if (!editedConsole) {
        std::free(line);
        return;
    }
    if (!line) {
        editedConsole->HandleEnd();
        return;
    }
    const std::string text(line);
    std::free(line);
    if (!text.empty()) add_history(text.c_str());
    editedConsole->HandleLine(text);
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
        editedConsole = this;
        rl_callback_handler_install(prompt_.c_str(), OnEditedLine);
    }
}

ConsoleInput::~ConsoleInput() {
    if (terminal_ && editedConsole == this) {
        rl_callback_handler_remove();
        editedConsole = nullptr;
    }
}

void ConsoleInput::OnReadable() {
    if (terminal_) {
        rl_callback_read_char();
        return;
    }
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        if (!pending_.empty()) HandleLine(std::exchange(pending_, {}));
        HandleEnd();
        return;
    }
    pending_.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = pending_.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        HandleLine(line);
    }
    pending_.erase(0, start);
}

void ConsoleInput::HandleLine(const std::string& line) {
    if (takeNextLine_) {
        auto take = std::exchange(takeNextLine_, nullptr);
        take(line);
        return;
    }
    if (onLine_) onLine_(line);
}

void ConsoleInput::HandleEnd() {
    atEnd_ = true;
    notifier_->setEnabled(false);
    if (terminal_) {
        rl_callback_handler_remove();
        editedConsole = nullptr;
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }
    if (takeNextLine_) std::exchange(takeNextLine_, nullptr)(std::nullopt);
}

void ConsoleInput::Print(const std::string& text) {
    if (!terminal_ || atEnd_) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return;
    }
    // Clear the line being typed, print, then redraw it.
    char* typed = rl_copy_text(0, rl_end);
    const int point = rl_point;
    rl_set_prompt("");
    rl_replace_line("", 0);
    rl_redisplay();
    std::fwrite(text.data(), 1, text.size(), stdout);
    rl_set_prompt(prompt_.c_str());
    rl_replace_line(typed, 0);
    rl_point = point;
    rl_redisplay();
    std::free(typed);
}

std::optional<std::string> ConsoleInput::AskLine(const std::string& question) {
    if (atEnd_) return std::nullopt;
    std::optional<std::string> answer;
    QEventLoop loop;
    takeNextLine_ = [&](std::optional<std::string> line) {
        answer = std::move(line);
        loop.quit();
    };
    if (terminal_) {
        rl_set_prompt(question.c_str());
        rl_redisplay();
    } else {
        Print(question + "\n");
    }
    loop.exec();
    if (terminal_ && !atEnd_) rl_set_prompt(prompt_.c_str());
    return answer;
}

}  // namespace torvane
