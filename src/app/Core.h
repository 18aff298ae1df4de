#pragma once

#include <QObject>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/LogService.h"
#include "base/Logging.h"
#include "base/MemoryReturn.h"
#include "delivery/BurstCommit.h"
#include "delivery/Outbox.h"
#include "host/HostAnswerHandler.h"
#include "host/LinkSupervisor.h"
#include "intake/DagFile.h"
#include "intake/DetectionProcessor.h"
#include "intake/MyLapsProtocol.h"
#include "intake/SourceActivity.h"
#include "journal/Journal.h"
#include "net/DetectionListener.h"
#include "net/HostLink.h"
#include "state/ActivityLists.h"
#include "state/OperatorPorts.h"
#include "state/RunningState.h"
#include "state/TimerService.h"

namespace torvane {

class PostedMessageEvent;

// Receives every posted message and timer on the user-interface thread and routes it.
class MessageRouter : public QObject {
public:
    explicit MessageRouter(std::function<void(PostedMessageEvent&)> route)
        : route_(std::move(route)) {}
    bool event(QEvent* event) override;

private:
    std::function<void(PostedMessageEvent&)> route_;
};

// The whole program without its windows: running state, lists, transport, protocol layers,
// detection processing and link supervision, wired together.
class Core {
public:
    struct Ports {
        OperatorDialogs& dialogs;
        StatusDisplay& status;
        ManualDetectionInput& manualInput;
        TimerService* timers = nullptr;  // window timers over QTimer when not given
    };

    explicit Core(Ports ports);
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // From now on posted messages reach the core ("the activity window exists").
    void AttachMessageTarget();
    // Handles what is still posted and shows every row waiting in the lists.
    void DeliverPendingWork();
    // A clean stop: what was read is journaled and acknowledged, and the host gets what waits
    // for it (up to kStopDrainLimit); what it took is recorded as sent, the rest waits for the
    // next start.
    void Shutdown();
    static constexpr std::chrono::milliseconds kStopDrainLimit{5000};

    // Start-up load of the general settings and the running state they give.
    void LoadGeneralSettings();
    // The activity window's log levels ("LogWinLevel", "LogFileLevel"), read and written back.
    void LoadLogLevels();
    void StartRaceDayTimer();
    // Opens the journal beside the settings and takes up the host lines an earlier run left
    // waiting; logs how it went. False when the journal could not be opened (it is tried again
    // every few seconds).
    bool OpenJournal();
    // Whoever reads the journal file through a connection of its own closes it here, before the
    // file is kept away for a new race; it opens the new file at its next read.
    void AddJournalReleaseHook(std::function<void()> hook) {
        releaseHooks_.push_back(std::move(hook));
    }
    void ReleaseJournalReaders() {
        for (const auto& hook : releaseHooks_) hook();
    }
    // Asks for the host link when lines wait for it (once the program is sure to run).
    void StartLinkForWaitingLines();
    // Loads "ChipTable.dtb" or "MyLapsTable.dtb" and logs the outcome, and how many passings
    // journaled under chip codes the table now gives a bib.
    bool LoadChipTableAndLog(std::string* message = nullptr);
    // Starts listening for MyLaps sources; on failure a "$$$" log line says why, then the
    // listener's message box is shown. 0 on success, -1 on failure.
    int StartListener(int port);

    // Operator actions.
    void SetFlowOpen(bool open);
    // The level box: the item's leading number becomes the window level; false if none.
    bool ChooseWindowLevel(const std::string& itemText);
    void InsertManualDetection();
    // Ends a burst of work now: its additions are committed (on the journal's thread), then
    // host lines and replies leave.
    void FinishBurst();
    // Commits everything gathered so far and waits until it is done; false when the journal
    // failed.
    bool FlushJournal() { return burst_.Flush(); }
    // The Exit question, with the detections that will wait for the next start.
    std::string ExitQuestion() const;
    // Detections journaled but not yet known to have reached the host.
    std::size_t WaitingDetectionCount() const { return outbox_.WaitingCount(); }
    void DisconnectAll() { supervisor_.DisconnectAll(); }
    // The operator's disconnect command: asks first, disconnects on Yes.
    bool DisconnectAllAfterQuestion();
    bool IsAnyLinkActive() const { return supervisor_.IsAnyLinkActive(); }
    void RefreshButtons() { supervisor_.RefreshButtons(); }
    void UpdateLinkStatus(bool announce) { supervisor_.UpdateLinkStatus(announce); }

    RunningState& State() { return state_; }
    ActivityLists& Lists() { return lists_; }
    LogService& Logs() { return logService_; }
    DetectionProcessor& Processor() { return processor_; }
    Journal& PassingJournal() { return journal_; }
    Outbox& HostOutbox() { return outbox_; }
    DagFile& Dag() { return dagFile_; }
    HostLink& Host() { return hostLink_; }
    DetectionListener& Listener() { return listener_; }
    LinkSupervisor& Supervisor() { return supervisor_; }
    SourceActivity& Activity() { return activity_; }
    TimerService& Timers() { return *timers_; }
    OperatorDialogs& Dialogs() { return ports_.dialogs; }

private:
    // How far back the lines lost by a host that reset its link are sent again.
    static constexpr std::int64_t kResetLookBackMs = 10000;

    void Route(PostedMessageEvent& message);
    void TakeUpWaitingLines();
    void OnHostReset();
    void OnTimer(int id);

    Ports ports_;
    RunningState state_;
    ActivityLists lists_;
    LogService logService_;
    MessageRouter router_;
    std::unique_ptr<TimerService> ownTimers_;
    TimerService* timers_;
    std::vector<std::function<void()>> releaseHooks_;
    std::string listenerError_;  // the listener's start-up box, shown after the log line
    DetectionListener listener_;
    HostLink hostLink_;
    Journal journal_;
    Outbox outbox_;
    BurstCommit burst_;
    DagFile dagFile_;
    LinkSupervisor supervisor_;
    DetectionProcessor processor_;
    SourceActivity activity_;
    MyLapsProtocol protocol_;
    HostAnswerHandler answers_;
    MemoryReturn memoryReturn_;
};

}  // namespace torvane
