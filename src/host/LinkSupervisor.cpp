#include "host/LinkSupervisor.h"

#include <algorithm>
#include <chrono>

#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "delivery/HostRequests.h"
#include "delivery/Outbox.h"
#include "host/LinkStatusTable.h"
#include "net/DetectionListener.h"
#include "net/HostLink.h"
#include "state/OperatorPorts.h"
#include "state/TimerService.h"

namespace torvane {

LinkSupervisor::LinkSupervisor(RunningState& state, HostLink& hostLink, DetectionListener& listener,
                               Outbox& outbox, TimerService& timers, StatusDisplay& status)
    : state_(state),
      hostLink_(hostLink),
      listener_(listener),
      outbox_(outbox),
      timers_(timers),
      status_(status) {}

void LinkSupervisor::OnHostNotice(std::intptr_t notice, std::uint64_t run) {
    const bool wasConnected = state_.hostLinkState == HostLinkState::Connected;
    switch (static_cast<HostNotice>(notice)) {
        case HostNotice::Attempt:
            state_.hostLinkState = HostLinkState::Connecting;
            Log(0, Tr("Attempt to connect to Ostrak Pro",
                      "+ Tentative de Connexion Directe à Ostrak Pro"));
            break;
        case HostNotice::Connected:
            state_.hostLinkState = HostLinkState::Connected;
            Log(0, Tr("Ostrak Pro connected sucessfully",
                      "+ Connexion Directe à Ostrak Pro effectuée avec succès"));
            if (backlogGrowing_) {
                backlogGrowing_ = false;
                Log(0, Format(Tr("+++ Ostrak Pro is back: %zu waiting detections are leaving",
                                 "+++ Ostrak Pro est de retour : %zu détections en attente "
                                 "partent"),
                              outbox_.WaitingCount()));
            }
            // Detections waiting while the host was away go first, before the queries.
            outbox_.OnLinkConnected(run);
            timers_.SetTimer(kQueryTimer, kQueryDelayMs);
            break;
        case HostNotice::Ended:
            state_.hostLinkState = HostLinkState::Disconnected;
            Log(0, Tr("Ostrak Pro disconnected", "+ Déconnecté de Ostrak Pro"));
            outbox_.OnLinkLost();
            timers_.KillTimer(kHostLingerTimer);
            if (HostLinkWanted()) timers_.SetTimer(kReconnectTimer, kReconnectDelayMs);
            if (wasConnected && state_.myLapsLinkState == MyLapsLinkState::Connected) {
                warnedOfLoss_ = true;
                deliveredAfterLoss_ = 0;
                status_.ShowTrayBalloon(
                    kWarningIcon,
                    Tr("Ostrak Pro disconnected: detections are kept and will be sent when the "
                       "link is back.",
                       "Ostrak Pro déconnecté : les détections sont gardées et seront envoyées "
                       "au retour de la connexion."));
                status_.PlayWaveResource(kDisconnectionSound);
            }
            break;
    }
    UpdateLinkStatus(true);
    RefreshButtons();
}

void LinkSupervisor::OnQueryTimer() {
    timers_.KillTimer(kQueryTimer);
    if (!hostLink_.IsHostLinkConnected()) return;
    for (const char* query : kHostQueryBurst) hostLink_.SendHostLine(query);
}

void LinkSupervisor::OnReconnectTimer() {
    timers_.KillTimer(kReconnectTimer);
    if (state_.hostLinkState != HostLinkState::Disconnected || !HostLinkWanted()) return;
    StartLink(kReconnectRetryDelaySeconds);
    state_.hostLinkState = HostLinkState::Connecting;
}

void LinkSupervisor::OnLingerTimer() {
    timers_.KillTimer(kHostLingerTimer);
    if (!HostLinkWanted()) hostLink_.StopHostLink();
}

// The host answers each line with the runner's result: stopping the link the moment the last
// line has left would lose those answers, so it stays a moment longer.
void LinkSupervisor::StopOnceAnswered() {
    if (hostLink_.IsRunning()) timers_.SetTimer(kHostLingerTimer, kHostLingerMs);
}

void LinkSupervisor::StartLink(int retryDelaySeconds) {
    timers_.KillTimer(kHostLingerTimer);
    const int port = ReadIniInt("Ostrak", "Port", 8283);
    WriteIniInt("Ostrak", "Port", port);
    const std::string host = ReadIniString("Ostrak", "Host", LoopbackHostName());
    WriteIniString("Ostrak", "Host", host);
    // How long a host may take none of what waits for it; an advanced key, not written back.
    const int stallSeconds = ReadIniInt("Ostrak", "StallSeconds", 30);
    hostLink_.SetStallLimitForTesting(std::chrono::seconds(std::clamp(stallSeconds, 1, 3600)));
    hostLink_.StartHostLink(host, port, retryDelaySeconds);
}

bool LinkSupervisor::HostLinkWanted() const {
    return state_.myLapsLinkState == MyLapsLinkState::Connected || outbox_.WaitingCount() > 0;
}

void LinkSupervisor::OnSourceConnected() {
    StartLink(kSourceRetryDelaySeconds);
    // A second source finds the host link already up: its state stays as it is.
    if (state_.hostLinkState == HostLinkState::Disconnected) {
        state_.hostLinkState = HostLinkState::Connecting;
    }
}

void LinkSupervisor::OnLastSourceGone() {
    if (outbox_.WaitingCount() == 0) StopOnceAnswered();
}

void LinkSupervisor::StartLinkForWaitingLines() {
    if (outbox_.WaitingCount() == 0) return;
    backlogGrowing_ = true;
    StartLink(kSourceRetryDelaySeconds);
    if (state_.hostLinkState == HostLinkState::Disconnected) {
        state_.hostLinkState = HostLinkState::Connecting;
    }
    ShowWaitingCount();
}

void LinkSupervisor::OnDelivered(std::size_t delivered, bool outboxEmpty) {
    if (warnedOfLoss_) deliveredAfterLoss_ += delivered;
    if (!outboxEmpty) return;
    if (warnedOfLoss_) {
        warnedOfLoss_ = false;
        const std::string text =
            Format(Tr("Ostrak Pro is back: the %zu waiting detections have been sent.",
                      "Ostrak Pro est de retour : les %zu détections en attente ont été "
                      "envoyées."),
                   deliveredAfterLoss_);
        Log(0, "+++ " + text);
        if (deliveredAfterLoss_ > 0) status_.ShowTrayBalloon(kInformationIcon, text);
    }
    // Kept up for the waiting lines only: the link is no longer needed.
    if (state_.myLapsLinkState != MyLapsLinkState::Connected) StopOnceAnswered();
    ShowWaitingCount();
}

void LinkSupervisor::AfterBurst() {
    // Lines made with no source connected (a replay, a manual detection) need a link too.
    if (outbox_.WaitingCount() > 0 && !hostLink_.IsRunning() &&
        !timers_.IsTimerActive(kReconnectTimer)) {
        StartLink(kSourceRetryDelaySeconds);
        state_.hostLinkState = HostLinkState::Connecting;
    }
    // While the first attempt is under way, detections wait a moment: that is no backlog yet.
    if (outbox_.WaitingCount() == 0 || state_.hostLinkState != HostLinkState::Disconnected ||
        backlogGrowing_) {
        return;
    }
    backlogGrowing_ = true;
    Log(0, Format(Tr("### Ostrak Pro is not connected: detections wait for it (%zu now)",
                     "### Ostrak Pro n'est pas connecté : les détections l'attendent (%zu pour "
                     "l'instant)"),
                  outbox_.WaitingCount()));
    ShowWaitingCount();
}

void LinkSupervisor::RefreshWaitingCount() {
    ShowWaitingCount();
}

// At most on every state change and every tick of the race-day timer: never once per passing.
void LinkSupervisor::ShowWaitingCount() {
    const std::size_t waiting = outbox_.WaitingCount();
    if (waiting == shownWaiting_) return;
    shownWaiting_ = waiting;
    status_.ShowWaitingDetections(waiting);
    UpdateLinkStatus(false);
}

void LinkSupervisor::UpdateLinkStatus(bool announce) {
    const auto row =
        FindLinkStatusRow(state_.flowOpen, state_.hostLinkState, state_.myLapsLinkState);
    if (!row) return;
    std::string tip = row->tip;
    if (shownWaiting_ > 0) {
        tip += Format(Tr("\n%zu detections waiting", "\n%zu détections en attente"), shownWaiting_);
    }
    status_.SetTrayStatus(row->iconId, tip);
    if (announce && !row->balloon.empty()) {
        status_.ShowTrayBalloon(row->iconId, row->balloon);
        status_.PlayWaveResource(row->soundId);
    }
}

bool LinkSupervisor::IsAnyLinkActive() const {
    return state_.hostLinkState != HostLinkState::Disconnected ||
           state_.myLapsLinkState != MyLapsLinkState::Waiting;
}

void LinkSupervisor::DisconnectAll() {
    if (state_.hostLinkState != HostLinkState::Disconnected) {
        timers_.KillTimer(kQueryTimer);
        timers_.KillTimer(kHostLingerTimer);
        hostLink_.StopHostLink();
    }
    if (state_.myLapsLinkState != MyLapsLinkState::Waiting) listener_.CloseAllSourceConnections();
    RefreshButtons();
}

void LinkSupervisor::RefreshButtons() {
    status_.SetInsertButtonEnabled(IsAnyLinkActive());
}

}  // namespace torvane
