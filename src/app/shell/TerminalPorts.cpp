#include "app/shell/TerminalPorts.h"

#include <cctype>
#include <cstdio>

#include "app/shell/ConsoleInput.h"
#include "app/shell/StandardOutput.h"
#include "base/Texts.h"

namespace torvane {

void PrintLines(ConsoleInput* console, const std::string& text) {
    std::string lines = text;
    if (lines.empty() || lines.back() != '\n') lines += '\n';
    if (console) {
        console->Print(lines);
    } else {
        WriteStandardOutput(lines);
    }
}

bool IsYesAnswer(const std::string& answer) {
    std::string word = Trim(answer);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word == "o" || word == "oui" || word == "y" || word == "yes";
}

bool TerminalDialogs::AskYesNo(const std::string& text) {
    if (!console_ || !ConsoleInput::IsTerminal()) return true;
    const auto answer = console_->AskLine(text + Tr(" (y/n) ", " (o/n) "));
    return answer && IsYesAnswer(*answer);
}

void TerminalDialogs::ShowMessage(const std::string& text, MessageIcon) {
    PrintLines(console_, text);
}

void TerminalStatus::ShowTrayBalloon(int, const std::string& text) {
    std::string notice;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        notice += "*** " + text.substr(start, end - start) + "\n";
    }
    notice += "*** " + text.substr(start) + "\n";
    PrintLines(console_, notice);
}

void TerminalStatus::ShowDayOffset(int daysToAdd) {
    if (daysToAdd == shownDayOffset_) return;
    shownDayOffset_ = daysToAdd;
    PrintLines(console_, daysToAdd > 0
                             ? Format(Tr("Race day: times +%dh", "Jour de course : temps +%dh"),
                                      daysToAdd * 24)
                             : Tr("Race day: today's times", "Jour de course : temps du jour"));
}

}  // namespace torvane
