#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Texts.h"

namespace torvane {

// What the program does at start, as the command line asks.
struct StartOptions {
    bool openFlow = false;  // the detection flow open at start, for this run only
    // The web page's port for this run only, instead of its setting (0: the system picks one,
    // -1: no page).
    std::optional<int> webPort;
};

// What the command line asks for. Arguments are read left to right; the first of --help,
// --version or a faulty argument decides what the run does, while --lang applies wherever it
// stands (so that "torvane --help --lang en" helps in English).
struct CommandLine {
    enum class Action { Run, Help, Version, Refuse, Ctl };

    Action action = Action::Run;
    std::string refusal;        // the faulty argument, with Action::Refuse
    std::string refusedOption;  // the option whose value is faulty; empty for an unknown option
    bool headless = false;
    StartOptions start;
    std::optional<Language> language;  // for this run only
    std::vector<std::string> ctl;      // with Action::Ctl: the command and its arguments
    // For this run only, none of them written to the settings: the folder of the settings, log,
    // journal and chip table, and the two ports.
    std::string dataFolder;
    std::optional<int> myLapsPort;
    std::optional<int> ostrakPort;
};

CommandLine ReadCommandLine(int argc, const char* const* argv);

// Why the command line is refused, in the current language.
std::string RefusalText(const CommandLine& line);

// The usage text, in the current language.
const char* UsageText();

}  // namespace torvane
