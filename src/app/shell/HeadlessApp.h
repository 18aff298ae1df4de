#pragma once

#include <memory>

#include "app/Core.h"
#include "app/OperatorCommands.h"
#include "app/shell/CommandLine.h"
#include "app/shell/ConsoleInput.h"
#include "app/shell/SignalBridge.h"
#include "app/shell/SingleInstance.h"
#include "app/shell/TerminalPorts.h"
#include "web/WebFrontEnd.h"

namespace torvane {

// Torvane without a display: the same core, the log list and the detection and summary lists
// printed on standard output, the operator's commands read from standard input.
class HeadlessApp {
public:
    explicit HeadlessApp(StartOptions options = {});
    ~HeadlessApp();

    // The start-up sequence; false ends the process (a second instance ends silently, one
    // that cannot listen for MyLaps sources ends with ExitCodeWithoutStart() 1, so that a
    // service manager starts it again).
    bool InitInstance();
    int ExitCodeWithoutStart() const { return exitCodeWithoutStart_; }
    int ExitInstance();

private:
    void PrintNewRows();
    void ConnectListPrinters();
    void Print(const std::string& text) { PrintLines(console_, text); }

    StartOptions options_;
    SingleInstance instance_;
    ConsoleInput* console_ = nullptr;
    TerminalDialogs dialogs_{console_};
    TerminalStatus status_{console_};
    std::unique_ptr<TypedManualDetection> manualInput_;
    std::unique_ptr<Core> core_;
    std::unique_ptr<WebFrontEnd> web_;  // ends before the core it reads
    std::unique_ptr<OperatorCommands> commands_;
    std::unique_ptr<ConsoleInput> consoleOwner_;
    std::unique_ptr<SignalBridge> signals_;
    bool startupComplete_ = false;
    int exitCodeWithoutStart_ = 0;
};

}  // namespace torvane
