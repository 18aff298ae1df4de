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

// The cells of the screen; each cell holds one UTF-8 character.
class ScreenCells {
public:
    void Put(const std::string& character) {
        auto& line = Line();
        if (line.size() <= column_) line.resize(column_ + 1, blank_);
        line[column_++] = character;
    }
    void CarriageReturn() { column_ = 0; }
    void LineFeed() { ++row_; }
    void Back(size_t n) { column_ -= std::min(column_, n); }
    void Forward(size_t n) { column_ += n; }
    void Up(size_t n) { row_ -= std::min(row_, n); }
    void Down(size_t n) { row_ += n; }
    void ToColumn(size_t column) { column_ = column; }
    void EraseLine(int mode) {
        auto& line = Line();
        if (mode == 0) {
            if (line.size() > column_) line.resize(column_);
        } else if (mode == 1) {
            const size_t end = std::min(column_ + 1, line.size());
            std::fill(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(end), blank_);
        } else {
            line.clear();
        }
    }
    void EraseBelow() {
        EraseLine(0);
        if (lines_.size() > row_ + 1) lines_.resize(row_ + 1);
    }
    std::vector<std::string> Text() const {
        std::vector<std::string> text;
        for (const auto& cells : lines_) {
            std::string line;
            for (const auto& cell : cells) line += cell;
            line.erase(line.find_last_not_of(' ') + 1);
            text.push_back(line);
        }
        while (!text.empty() && text.back().empty() && text.size() > row_ + 1) text.pop_back();
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

// A control sequence "ESC [ parameters final"; returns the position after it.
size_t ApplyControlSequence(const std::string& raw, size_t i, ScreenCells& screen) {
    size_t end = i;
    while (end < raw.size() && !(raw[end] >= 0x40 && raw[end] <= 0x7E)) ++end;
    if (end >= raw.size()) return raw.size();
    const std::string parameters = raw.substr(i, end - i);
    const bool privateMode = !parameters.empty() && parameters[0] == '?';
    const int number = privateMode || parameters.empty() ? -1 : std::atoi(parameters.c_str());
    const size_t count = number > 0 ? static_cast<size_t>(number) : 1;
    if (!privateMode) {
        switch (raw[end]) {
            case 'A':
                screen.Up(count);
                break;
            case 'B':
                screen.Down(count);
                break;
            case 'C':
                screen.Forward(count);
                break;
            case 'D':
                screen.Back(count);
                break;
            case 'G':
                screen.ToColumn(count - 1);
                break;
            case 'K':
                screen.EraseLine(std::max(number, 0));
                break;
            case 'J':
                screen.EraseBelow();
                break;
            default:
                break;
        }
    }
    return end + 1;
}

}  // namespace

std::vector<std::string> RenderTerminal(const std::string& raw) {
    ScreenCells screen;
    for (size_t i = 0; i < raw.size();) {
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c == 0x1B) {
            if (i + 1 < raw.size() && raw[i + 1] == '[') {
                i = ApplyControlSequence(raw, i + 2, screen);
            } else if (i + 1 < raw.size() && raw[i + 1] == ']') {
                const size_t bell = raw.find('\a', i);
                i = bell == std::string::npos ? raw.size() : bell + 1;
            } else {
                i += 2;
            }
        } else if (c == '\r') {
            screen.CarriageReturn();
            ++i;
        } else if (c == '\n') {
            screen.LineFeed();
            ++i;
        } else if (c == '\b') {
            screen.Back(1);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            ++i;
        } else {
            const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            screen.Put(raw.substr(i, length));
            i += length;
        }
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
