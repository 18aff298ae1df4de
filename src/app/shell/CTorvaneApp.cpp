#include "app/shell/CTorvaneApp.h"

#include <csignal>

#include "app/shell/LanguageSetting.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "host/LinkStatusTable.h"
#include "ui/CDlgConfig.h"
#include "ui/ManualDetectionDialogInput.h"

namespace torvane {

CTorvaneApp::~CTorvaneApp() {
    // The windows go before the core whose lists they show.
    status_.Attach(nullptr, nullptr);
    journalWindow_.reset();
    activity_.reset();
    mainFrame_.reset();
}

bool CTorvaneApp::InitInstance() {
    // A peer that goes away mid-send must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    if (!instance_.Acquire()) {
        // Without a notification area the running copy's window can only be reached this way.
        if (!CTrayIcon::IsTrayAvailable()) {
            if (const int pid = SingleInstance::RunningInstancePid(); pid > 0) ::kill(pid, SIGUSR1);
        }
        return false;
    }
    // Signals are caught from the start, so that none of them ends the program unasked.
    signals_ = std::make_unique<SignalBridge>(
        [this] {
            if (mainFrame_) mainFrame_->ExitWithoutQuestion();
        },
        [this] {
            if (activity_) activity_->PopFront();
        });

    core_ = std::make_unique<Core>(Core::Ports{dialogs_, status_, manualInput_});
    core_->LoadGeneralSettings();
    KeepLanguageSetting();
    if (options_.openFlow) core_->State().flowOpen = true;

    mainFrame_ = std::make_unique<CMainFrame>(
        *core_, CMainFrame::ActivityWindowHooks{[this] { return activity_ != nullptr; },
                                                [this] { activity_->PopFront(); },
                                                [this] {
                                                    if (activity_) activity_->SaveWindowPosition();
                                                },
                                                [this] { ShowJournalWindow(); }});
    mainFrame_->hide();
    // The frame has decided: the program ends. quit() would first ask every window to close,
    // and the activity window refuses where it minimises instead of hiding.
    mainFrame_->onClosedForGood = [this] {
        if (startupComplete_) {
            QApplication::exit(0);
            return;
        }
        // Before the main loop runs there is nothing to leave: a start-up box is closed, and
        // the main loop ends as soon as it runs.
        closedForGood_ = true;
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
    };
    status_.Attach(mainFrame_.get(), nullptr);

    MakeDirectories(GetLogFolder());
    FixLogFilePath();
    WriteStartBanner();

    core_->AttachMessageTarget();
    activity_ = std::make_unique<CTorvaneDlg>(*core_);
    status_.Attach(mainFrame_.get(), activity_.get());
    manualInput_.SetTarget(std::make_unique<ManualDetectionDialogInput>(*core_, activity_.get()));
    activity_->SetConfigureHandler([this] { Configure(*core_, activity_.get()); });
    activity_->SetJournalHandler([this] { ShowJournalWindow(); });
    activity_->SetExitHandler([this] { mainFrame_->OnCommand(CMainFrame::kExit); });
    core_->RefreshButtons();
    activity_->ShowAtStart(core_->State().openWindowAtStartup);

    const auto row = FindLinkStatusRow(core_->State().flowOpen, HostLinkState::Disconnected,
                                       MyLapsLinkState::Waiting);
    mainFrame_->SetTrayStatus(row->iconId, row->tip);

    const int port = ReadIniInt("MyLaps", "Port", 3097);
    WriteIniInt("MyLaps", "Port", port);
    core_->LoadChipTableAndLog();
    core_->OpenJournal();
    if (!core_->State().openWindowAtStartup) ShowStartBalloon();
    core_->StartListener(port);
    core_->StartLinkForWaitingLines();
    web_ = WebFrontEnd::Start(*core_, options_.webPort);

    if (closedForGood_) {
        QMetaObject::invokeMethod(
            qApp, [] { QApplication::exit(0); }, Qt::QueuedConnection);
    }
    startupComplete_ = true;
    return true;
}

void CTorvaneApp::ShowStartBalloon() {
    std::string text = Tr("Application started...", "Application démarrée...");
    if (!core_->State().flowOpen) {
        text += Tr("\nBut detection flow is closed!", "\nMais le flux des détections est fermé !");
    }
    mainFrame_->ShowTrayBalloon(core_->State().flowOpen ? 132 : 141, text);
}

void CTorvaneApp::ShowJournalWindow() {
    if (journalWindow_) {
        journalWindow_->Reopen();
    } else {
        journalWindow_ = std::make_unique<JournalWindow>(*core_);
    }
    journalWindow_->show();
    journalWindow_->raise();
    journalWindow_->activateWindow();
}

int CTorvaneApp::ExitInstance() {
    if (!startupComplete_) return 0;
    journalWindow_.reset();  // its reads and export end before the core does
    core_->Shutdown();
    WriteStopLine();
    return 0;
}

}  // namespace torvane
