#include "app/Core.h"

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/ListenerSettings.h"
#include "app/UnknownChipResend.h"
#include "base/Clock.h"
#include "base/PostedMessage.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "net/MyLapsMessage.h"
#include "tables/ChipTable.h"

namespace torvane {
namespace {

std::string ListenerFailureText(int port, const ListenerStartFailure& failure) {
    const char* reason = std::strerror(failure.error);
    if (failure.step != ListenerStartFailure::Step::Bind) {
        return Format(Tr("$$$ The MyLaps listener cannot start (%s)",
                         "$$$ L'écoute MyLaps ne peut pas démarrer (%s)"),
                      reason);
    }
    if (failure.error == EADDRINUSE) {
        return Format(Tr("$$$ MyLaps port %d is already in use (%s)",
                         "$$$ Le port MyLaps %d est déjà utilisé (%s)"),
                      port, reason);
    }
    return Format(
        Tr("$$$ MyLaps port %d cannot be used (%s)", "$$$ Le port MyLaps %d est inutilisable (%s)"),
        port, reason);
}

}  // namespace

bool MessageRouter::event(QEvent* event) {
    if (event->type() != PostedMessageEvent::Type()) return QObject::event(event);
    route_(*static_cast<PostedMessageEvent*>(event));
    return true;
}

Core::Core(Ports ports)
    : ports_(ports),
      logService_(lists_.log),
      router_([this](PostedMessageEvent& message) { Route(message); }),
      ownTimers_(ports.timers ? nullptr : std::make_unique<QtTimerService>()),
      timers_(ports.timers ? ports.timers : ownTimers_.get()),
      listener_([this](const std::string& text) { listenerError_ = text; }),
      outbox_(journal_, hostLink_),
      burst_(journal_, outbox_, listener_),
      dagFile_(state_),
      supervisor_(state_, hostLink_, listener_, outbox_, *timers_, ports.status),
      processor_(state_, lists_.detections, journal_, outbox_, dagFile_, ports.status,
                 ports.manualInput, [this] { supervisor_.RefreshButtons(); }),
      activity_([this](const std::string& text) {
          // A silent source is told as a lost host is.
          ports_.status.ShowTrayBalloon(LinkSupervisor::kWarningIcon, text);
          ports_.status.PlayWaveResource(LinkSupervisor::kDisconnectionSound);
      }),
      protocol_(state_, hostLink_, processor_, journal_, burst_,
                MyLapsProtocol::LinkHooks{[this] { supervisor_.OnSourceConnected(); },
                                          [this] { supervisor_.OnLastSourceGone(); },
                                          [this] {
                                              supervisor_.UpdateLinkStatus(true);
                                              supervisor_.RefreshButtons();
                                          }}),
      answers_(lists_.summary) {
    timers_->SetHandler([this](int id) { OnTimer(id); });
    journal_.SetCommitFinishedNotice([] { PostToTarget(WM_JOURNAL_COMMITTED, 0); });
    protocol_.SetActivity(&activity_);
    burst_.SetReopenedHandler([this] {
        TakeUpWaitingLines();
        StartLinkForWaitingLines();
    });
    outbox_.SetDeliveredObserver(
        [this](std::size_t delivered, bool empty) { supervisor_.OnDelivered(delivered, empty); });
}

Core::~Core() {
    SetBurstEndHandler(nullptr);
    SetMessageTarget(nullptr);
    DiscardPendingLogLines();
    timers_->SetHandler(nullptr);
}

void Core::AttachMessageTarget() {
    DiscardPendingLogLines();
    SetMessageTarget(&router_);
    SetBurstEndHandler([this] { FinishBurst(); });
}

void Core::FinishBurst() {
    burst_.Finish();
    supervisor_.AfterBurst();
}

void Core::InsertManualDetection() {
    if (processor_.InsertManualDetection()) FinishBurst();
}

bool Core::OpenJournal() {
    if (!burst_.OpenJournal(GetDataFolder() + "/" + Journal::kFileName)) return false;
    TakeUpWaitingLines();
    return true;
}

void Core::TakeUpWaitingLines() {
    std::string error;
    const std::size_t waiting = outbox_.LoadWaiting(error);
    if (!error.empty()) {
        Log(0, Format(Tr("$$$ The journal's waiting lines cannot be read (%s)",
                         "$$$ Les lignes en attente du journal ne peuvent pas être lues (%s)"),
                      error.c_str()));
    }
    if (waiting > 0) {
        Log(0, Format(Tr("+++ %d detections waiting for Ostrak Pro",
                         "+++ %d détections en attente d'envoi à Ostrak Pro"),
                      static_cast<int>(waiting)));
    }
}

void Core::StartLinkForWaitingLines() {
    if (outbox_.WaitingCount() > 0) supervisor_.StartLinkForWaitingLines();
}

void Core::OnHostReset() {
    // The marks of the lines delivered just before the reset go to disk first.
    burst_.Flush();
    std::string error;
    const std::size_t count = outbox_.RequeueSentSince(clock::NowMs() - kResetLookBackMs, error);
    if (count > 0) {
        Log(0, Format(Tr("### %d detections sent again: Ostrak Pro stopped without reading them",
                         "### %d détections renvoyées : Ostrak Pro s'est arrêté sans les lire"),
                      static_cast<int>(count)));
    }
    if (!error.empty()) {
        Log(0, Format(Tr("$$$ The lines Ostrak Pro lost cannot be found in the journal (%s)",
                         "$$$ Les lignes perdues par Ostrak Pro sont introuvables dans le "
                         "journal (%s)"),
                      error.c_str()));
    }
    supervisor_.RefreshWaitingCount();
}

void Core::Shutdown() {
    // What the sources sent so far is journaled and acknowledged, and its lines handed over.
    DeliverPendingWork();
    burst_.Flush();
    // The host gets what waits for it; what it has taken is recorded, the rest waits for the
    // next start.
    const std::int64_t delivered = hostLink_.DrainAndStop(kStopDrainLimit);
    DeliverPendingWork();
    if (delivered > 0) outbox_.OnDelivered(delivered);
    burst_.Flush();
}

void Core::DeliverPendingWork() {
    DeliverPostedMessages();
    lists_.detections.Flush();
    lists_.summary.Flush();
    lists_.log.Flush();
}

void Core::Route(PostedMessageEvent& message) {
    switch (message.id) {
        case WM_MYLAPS_CONNECTION: {
            const auto* connection = dynamic_cast<ConnectionPayload*>(message.lParam.get());
            protocol_.OnConnection(message.wParam, connection ? connection->connection : 0,
                                   connection ? connection->peer : std::string());
            break;
        }
        case WM_MYLAPS_MESSAGE: {
            if (const auto* passings = dynamic_cast<MyLapsMessage*>(message.lParam.get())) {
                memoryReturn_.CountWork(std::max<std::size_t>(1, passings->budgetPassings),
                                        clock::NowMs());
            }
            std::unique_ptr<MyLapsMessage> payload(
                dynamic_cast<MyLapsMessage*>(message.lParam.release()));
            protocol_.OnMessage(std::move(payload));
            break;
        }
        case WM_HOST_LINE:
            if (auto* line = dynamic_cast<TextPayload*>(message.lParam.get())) {
                answers_.OnHostLine(line->text);
            }
            break;
        case WM_HOST_LINK_STATE: {
            const auto* run = dynamic_cast<RunPayload*>(message.lParam.get());
            supervisor_.OnHostNotice(message.wParam, run ? run->run : 0);
            break;
        }
        case WM_HOST_DELIVERED:
            outbox_.OnDelivered(static_cast<std::int64_t>(message.wParam));
            break;
        case WM_JOURNAL_COMMITTED:
            burst_.OnCommitFinished();
            break;
        case WM_HOST_RESET:
            OnHostReset();
            break;
        case WM_LOG_LINE:
            logService_.DispatchPending();
            break;
        default:
            break;
    }
}

void Core::OnTimer(int id) {
    if (id == kRaceDayTimer) {
        processor_.TrackRaceDay();
        burst_.Retry(clock::NowMs());
        supervisor_.RefreshWaitingCount();
        activity_.Check(state_.flowOpen, clock::NowMs());
        memoryReturn_.ReturnIfQuiet(clock::NowMs());
    } else if (id == kQueryTimer) {
        supervisor_.OnQueryTimer();
    } else if (id == kHostLingerTimer) {
        supervisor_.OnLingerTimer();
    } else {
        supervisor_.OnReconnectTimer();
    }
}

void Core::LoadGeneralSettings() {
    state_.ownName = ReadIniString("Torvane", "TorvBagName", "Bag");
    WriteIniString("Torvane", "TorvBagName", state_.ownName);
    state_.openWindowAtStartup = ReadIniBool("Torvane", "BTorvOpenAtStartup", true);
    WriteIniBool("Torvane", "BTorvOpenAtStartup", state_.openWindowAtStartup);
    state_.closeFlowAtStartup = ReadIniBool("Torvane", "BTorvHaltedAtStartup", true);
    WriteIniBool("Torvane", "BTorvHaltedAtStartup", state_.closeFlowAtStartup);
    state_.daysToAdd = ReadIniInt("Settings", "TDaysToAdd", 0);
    WriteIniInt("Settings", "TDaysToAdd", state_.daysToAdd);
    processor_.ComputeRaceDayDates();
    state_.ignoreUnknownChips = ReadIniBool("Settings", "TorvIgnoreUnknownTags", false);
    WriteIniBool("Settings", "TorvIgnoreUnknownTags", state_.ignoreUnknownChips);
    state_.flowOpen = !state_.closeFlowAtStartup;
    const int silenceMinutes = ReadIniInt("MyLaps", "SilenceMinutes", 10);
    WriteIniInt("MyLaps", "SilenceMinutes", silenceMinutes);
    activity_.SetSilenceMinutes(silenceMinutes);
}

void Core::LoadLogLevels() {
    const int windowLevel = ReadIniInt("Settings", "LogWinLevel", 50);
    const int fileLevel = ReadIniInt("Settings", "LogFileLevel", 75);
    WriteIniInt("Settings", "LogWinLevel", windowLevel);
    WriteIniInt("Settings", "LogFileLevel", fileLevel);
    logService_.SetWindowLevel(windowLevel);
}

void Core::StartRaceDayTimer() {
    timers_->SetTimer(kRaceDayTimer, 500);
}

bool Core::LoadChipTableAndLog(std::string* message) {
    std::string text;
    const bool loaded = LoadChipTable(kChipTableSecondName, text);
    Log(0, text);
    if (message) *message = text;
    if (loaded) AnnounceUnknownChipsNowKnown(*this);
    return loaded;
}

int Core::StartListener(int port) {
    listener_.SetOptions(ReadListenerOptions());
    ListenerStartFailure failure;
    if (listener_.StartDetectionListener(port, &failure) == 0) return 0;
    Log(0, ListenerFailureText(port, failure));
    if (!listenerError_.empty()) {
        ports_.dialogs.ShowMessage(std::exchange(listenerError_, {}), MessageIcon::Error);
    }
    return -1;
}

std::string Core::ExitQuestion() const {
    std::string question =
        Tr("Do you really want to quit Torvane", "Voulez vous vraiment quitter Torvane ?");
    if (const std::size_t waiting = WaitingDetectionCount()) {
        question += "\n\n" + Format(Tr("%d waiting detections will be sent at the next start.",
                                       "%d détections en attente seront envoyées au prochain "
                                       "démarrage."),
                                    static_cast<int>(waiting));
    }
    return question;
}

bool Core::DisconnectAllAfterQuestion() {
    const bool yes = ports_.dialogs.AskYesNo(
        Tr("Do you really want to disconnect MyLaps and Fendrix/Lumbrec/Ostrak Pro?",
           "Voulez vous vraiment déconnecter MyLaps et Fendrix/Lumbrec/Ostrak Pro ?"));
    if (yes) DisconnectAll();
    return yes;
}

void Core::SetFlowOpen(bool open) {
    state_.flowOpen = open;
    supervisor_.UpdateLinkStatus(false);
}

bool Core::ChooseWindowLevel(const std::string& itemText) {
    int level = 0;
    if (std::sscanf(itemText.c_str(), "%d", &level) != 1) return false;
    Log(0, Format(Tr("+ Log level set to %d", "+ Niveau de traces mis à %d"), level));
    logService_.SetWindowLevel(level);
    WriteIniInt("Settings", "LogWinLevel", level);
    supervisor_.RefreshButtons();
    return true;
}

}  // namespace torvane
