#pragma once

#include <QApplication>
#include <memory>

#include "app/Core.h"
#include "app/shell/CommandLine.h"
#include "app/shell/SignalBridge.h"
#include "app/shell/SingleInstance.h"
#include "ui/CMainFrame.h"
#include "ui/CTorvaneDlg.h"
#include "ui/DesktopPorts.h"
#include "ui/JournalWindow.h"
#include "web/WebFrontEnd.h"

namespace torvane {

// Forwards to the manual detection dialog, which can only be made once the core exists.
class ForwardingManualInput : public ManualDetectionInput {
public:
    void SetTarget(std::unique_ptr<ManualDetectionInput> target) { target_ = std::move(target); }
    std::optional<ManualDetection> AskManualDetection(
        const std::vector<std::string>& detectors) override {
        return target_ ? target_->AskManualDetection(detectors) : std::nullopt;
    }

private:
    std::unique_ptr<ManualDetectionInput> target_;
};

// The application: start-up, single instance and exit of the desktop program.
class CTorvaneApp {
public:
    explicit CTorvaneApp(StartOptions options = {}) : options_(options) {}
    ~CTorvaneApp();

    // The start-up sequence; false ends the process (a second instance ends silently).
    bool InitInstance();
    int ExitCodeWithoutStart() const { return 0; }
    // After the message loop: the stop line. Returns the exit code.
    int ExitInstance();

    Core& GetCore() { return *core_; }

private:
    void ShowStartBalloon();
    void ShowJournalWindow();

    StartOptions options_;
    SingleInstance instance_;
    MessageBoxDialogs dialogs_{[this] { return static_cast<QWidget*>(activity_.get()); }};
    DesktopStatus status_;
    ForwardingManualInput manualInput_;
    std::unique_ptr<Core> core_;
    std::unique_ptr<WebFrontEnd> web_;  // ends before the core it reads
    std::unique_ptr<CMainFrame> mainFrame_;
    std::unique_ptr<CTorvaneDlg> activity_;
    std::unique_ptr<JournalWindow> journalWindow_;  // made at its first opening
    std::unique_ptr<SignalBridge> signals_;
    bool startupComplete_ = false;
    bool closedForGood_ = false;
};

}  // namespace torvane
