#pragma once

#include <memory>

#include "app/Core.h"
#include "app/OperatorCommands.h"
#include "app/shell/ConsoleInput.h"
#include "app/shell/SignalBridge.h"
#include "app/shell/SingleInstance.h"
#include "app/shell/TerminalPorts.h"

namespace torvane {

// Torvane without a display: the same core, the log list and the detection and summary lists
// printed on standard output, the operator's commands read from standard input.
class HeadlessApp {
public:
    HeadlessApp();
    ~HeadlessApp();

    // The start-up sequence; false ends the process (a second instance ends silently).
    bool InitInstance();
    int ExitInstance();

private:
    void PrintNewRows();
    void ConnectListPrinters();
    void Print(const std::string& text) { PrintLines(console_, text); }

    SingleInstance instance_;
    ConsoleInput* console_ = nullptr;
    TerminalDialogs dialogs_{console_};
    TerminalStatus status_{console_};
    std::unique_ptr<TypedManualDetection> manualInput_;
    std::unique_ptr<Core> core_;
    std::unique_ptr<OperatorCommands> commands_;
    std::unique_ptr<ConsoleInput> consoleOwner_;
    std::unique_ptr<SignalBridge> signals_;
    bool startupComplete_ = false;
};

}  // namespace torvane
