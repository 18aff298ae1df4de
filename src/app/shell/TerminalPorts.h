#pragma once

#include <string>

#include "state/OperatorPorts.h"

namespace torvane {

class ConsoleInput;

// "o", "oui", "y" or "yes", in any case and between blanks; every other answer is no.
bool IsYesAnswer(const std::string& answer);

// Questions on the terminal: asked and answered there when the input is a terminal; a command
// given through a pipe or a file is carried out without a question.
class TerminalDialogs : public OperatorDialogs {
public:
    explicit TerminalDialogs(ConsoleInput*& console) : console_(console) {}
    bool AskYesNo(const std::string& text) override;
    bool AskOkCancel(const std::string& text) override { return AskYesNo(text); }
    void ShowMessage(const std::string& text, MessageIcon icon) override;

private:
    ConsoleInput*& console_;
};

// The notices that the desktop shows next to its notification icon are printed instead.
class TerminalStatus : public StatusDisplay {
public:
    explicit TerminalStatus(ConsoleInput*& console) : console_(console) {}
    void SetTrayStatus(int, const std::string&) override {}
    void ShowTrayBalloon(int iconId, const std::string& text) override;
    void PlayWaveResource(int) override {}
    void ShowDayOffset(int daysToAdd) override;
    void SetInsertButtonEnabled(bool) override {}
    // The terminal says it in `status` and in the log lines.
    void ShowWaitingDetections(std::size_t) override {}

private:
    ConsoleInput*& console_;
    int shownDayOffset_ = 0;
};

// Prints text lines through the console (or straight to standard output before it exists).
void PrintLines(ConsoleInput* console, const std::string& text);

}  // namespace torvane
