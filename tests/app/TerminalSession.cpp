#include "TerminalSession.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

// The lines of the screen; each cell holds one UTF-8 character.
class ScreenCells {
public:
    void Put(const std::string& character) {
        auto& line = Line();
        if (line.size() <= column_) line.resize(column_ + 1, blank_);
        line[column_++] = character;
    }
    void CarriageReturn() { column_ = 0; }
    void LineFeed() { ++row_; }
    void Back() { column_ -= column_ > 0 ? 1 : 0; }
    void EraseToLineEnd() {
        auto& line = Line();
        if (line.size() > column_) line.resize(column_);
    }
    std::vector<std::string> Text() const {
        std::vector<std::string> text;
        for (const auto& cells : lines_) {
            std::string line;
            for (const auto& cell : cells) line += cell;
            line.erase(line.find_last_not_of(' ') + 1);
            text.push_back(line);
        }
        return text;
    }

private:
    std::vector<std::string>& Line() {
        if (lines_.size() <= row_) lines_.resize(row_ + 1);
        return lines_[row_];
    }
    const std::string blank_ = " ";
    std::vector<std::vector<std::string>> lines_;
    size_t row_ = 0;
    size_t column_ = 0;
};

}  // namespace

// The line editor on an xterm writes text, CR, LF, backspace and "ESC [ K"; other control
// sequences (bracketed paste on and off) change nothing on the screen.
std::vector<std::string> RenderTerminal(const std::string& raw) {
    ScreenCells screen;
    for (size_t i = 0; i < raw.size();) {
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c == 0x1B && i + 1 < raw.size() && raw[i + 1] == '[') {
            size_t end = i + 2;
            while (end < raw.size() && !(raw[end] >= 0x40 && raw[end] <= 0x7E)) ++end;
            if (end < raw.size() && raw[end] == 'K' && end == i + 2) screen.EraseToLineEnd();
            i = end + 1;
            continue;
        }
        if (c == '\r') {
            screen.CarriageReturn();
        } else if (c == '\n') {
            screen.LineFeed();
        } else if (c == '\b') {
            screen.Back();
        } else if (c >= 0x20 && c != 0x7F) {
            const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            screen.Put(raw.substr(i, length));
            i += length;
            continue;
        }
        ++i;
    }
    return screen.Text();
}

TerminalSession::~TerminalSession() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) ::close(master_);
}

bool TerminalSession::Start(const QProcessEnvironment& environment,
                            const std::vector<std::string>& arguments) {
    // Everything the child needs is made before the fork.
    std::vector<std::string> words{BinaryPath()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<std::string> settings;
    for (const QString& key : environment.keys()) {
        settings.push_back((key + "=" + environment.value(key)).toStdString());
    }
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& setting : settings) envp.push_back(setting.data());
    envp.push_back(nullptr);

    winsize size{};
    size.ws_row = 50;
    size.ws_col = 200;
    pid_ = ::forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

void TerminalSession::Type(const std::string& keys) {
    size_t written = 0;
    while (written < keys.size()) {
        const ssize_t n = ::write(master_, keys.data() + written, keys.size() - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
        } else {
            pollfd out{master_, POLLOUT, 0};
            if (::poll(&out, 1, 1000) <= 0) return;
        }
    }
}

bool TerminalSession::ReadAvailable(int waitMs) {
    pollfd in{master_, POLLIN, 0};
    if (::poll(&in, 1, waitMs) <= 0) return false;
    char buffer[4096];
    bool any = false;
    for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;) {
        raw_.append(buffer, static_cast<size_t>(n));
        any = true;
    }
    return any;
}

std::optional<size_t> TerminalSession::WaitFor(const std::string& text, size_t from,
                                               int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        const size_t found = raw_.find(text, std::min(from, raw_.size()));
        if (found != std::string::npos) return found + text.size();
        if (elapsed.elapsed() > timeoutMs) return std::nullopt;
        ReadAvailable(20);
    }
}

void TerminalSession::Signal(int signalNumber) {
    if (pid_ > 0) ::kill(pid_, signalNumber);
}

std::optional<int> TerminalSession::WaitForExit(int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (pid_ > 0) {
        ReadAvailable(20);
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            ReadAvailable(0);
            if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
        } else if (elapsed.elapsed() > timeoutMs) {
            return std::nullopt;
        }
    }
    return exitCode_;
}

std::vector<std::string> TerminalSession::Screen() const {
    return RenderTerminal(raw_);
}

}  // namespace torvane::test
