#include "host/LinkSupervisor.h"

#include "app/OperatorPorts.h"
#include "app/TimerService.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "host/DetectionForwarder.h"
#include "host/HostRequests.h"
#include "host/LinkStatusTable.h"
#include "net/DetectionListener.h"
#include "net/HostLink.h"

namespace torvane {

LinkSupervisor::LinkSupervisor(RunningState& state, HostLink& hostLink, DetectionListener& listener,
                               DetectionForwarder& forwarder, TimerService& timers,
                               StatusDisplay& status)
    : state_(state),
      hostLink_(hostLink),
      listener_(listener),
      forwarder_(forwarder),
      timers_(timers),
      status_(status) {}

void LinkSupervisor::OnHostNotice(std::intptr_t notice) {
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
            // Detections held while the host was away go first, before the queries.
            forwarder_.SendHeld();
            timers_.SetTimer(kQueryTimer, kQueryDelayMs);
            break;
        case HostNotice::Ended:
            state_.hostLinkState = HostLinkState::Disconnected;
            Log(0, Tr("Ostrak Pro disconnected", "+ Déconnecté de Ostrak Pro"));
            if (state_.myLapsLinkState == MyLapsLinkState::Connected)
                timers_.SetTimer(kReconnectTimer, kReconnectDelayMs);
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
    if (state_.hostLinkState != HostLinkState::Disconnected ||
        state_.myLapsLinkState != MyLapsLinkState::Connected)
        return;
    const int port = ReadIniInt("Ostrak", "Port", 8283);
    WriteIniInt("Ostrak", "Port", port);
    const std::string host = ReadIniString("Ostrak", "Host", LoopbackHostName());
    WriteIniString("Ostrak", "Host", host);
    hostLink_.StartHostLink(host, port, kReconnectRetryDelaySeconds);
    state_.hostLinkState = HostLinkState::Connecting;
}

void LinkSupervisor::UpdateLinkStatus(bool announce) {
    const auto row =
        FindLinkStatusRow(state_.flowOpen, state_.hostLinkState, state_.myLapsLinkState);
    if (!row) return;
    status_.SetTrayStatus(row->iconId, row->tip);
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
        hostLink_.StopHostLink();
    }
    if (state_.myLapsLinkState != MyLapsLinkState::Waiting) listener_.CloseAllSourceConnections();
    RefreshButtons();
}

void LinkSupervisor::RefreshButtons() {
    status_.SetInsertButtonEnabled(IsAnyLinkActive());
}

}  // namespace torvane
