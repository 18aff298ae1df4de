#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/JournalActions.h"
#include "state/OperatorPorts.h"
#include "state/RunningState.h"

namespace torvane {

class Core;

// A manual detection typed as a command: its fields are checked against the detector list
// when the detection processing asks for them, exactly as the dialog checks what it shows.
class TypedManualDetection : public ManualDetectionInput {
public:
    struct Request {
        std::string bibText;
        std::optional<std::string> timeText;  // now when not given
        std::optional<std::string> detector;  // the detector chosen last when not given
        std::optional<int> dayOffset;         // today's place among the race days when not given
    };

    explicit TypedManualDetection(std::function<void(const std::string&)> print)
        : print_(std::move(print)) {}
    // The running state gives today's race day; it exists once the core does.
    void AttachState(const RunningState& state) { state_ = &state; }

    void SetRequest(Request request) { request_ = std::move(request); }
    std::optional<ManualDetection> AskManualDetection(
        const std::vector<std::string>& detectors) override;

private:
    const RunningState* state_ = nullptr;
    std::function<void(const std::string&)> print_;
    std::optional<Request> request_;
};

// What `status` prints: both links, the flow, the race day, the chip table, the DAG file, the
// detections waiting for the host and the silent sources.
std::string StatusText(Core& core);

// The operator's commands of the terminal front-end, one line at a time; every answer is
// printed (in the program's language) through `print`.
class OperatorCommands {
public:
    OperatorCommands(Core& core, TypedManualDetection& manualInput,
                     std::function<void(const std::string&)> print, std::function<void()> quit);

    void Execute(const std::string& line);
    static std::string HelpText();

private:
    void Status();
    void SetFlow(bool open);
    void Insert(const std::vector<std::string>& words);
    void SwitchOption(const std::vector<std::string>& words, bool dag);
    void Level(const std::vector<std::string>& words);
    void Export(const std::string& rest);
    void NewRace();

    Core& core_;
    TypedManualDetection& manualInput_;
    std::function<void(const std::string&)> print_;
    std::function<void()> quit_;
    JournalActions journalActions_;  // last: its reader stops before the rest goes
};

}  // namespace torvane
