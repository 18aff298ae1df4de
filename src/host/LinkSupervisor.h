#pragma once

#include <cstddef>
#include <cstdint>

#include "state/RunningState.h"

namespace torvane {

class HostLink;
class DetectionListener;
class Outbox;
class TimerService;
class StatusDisplay;

// Keeps the host link up while a MyLaps source is connected or host lines wait, and shows how
// both links stand: the notification icon, its tip, balloons and sounds, and the number of
// detections waiting for the host.
class LinkSupervisor {
public:
    static constexpr int kQueryDelayMs = 300;
    static constexpr int kReconnectDelayMs = 10000;
    // How long a link no longer needed stays up for the host's answers to the last lines.
    static constexpr int kHostLingerMs = 3000;
    static constexpr int kReconnectRetryDelaySeconds = 2;
    static constexpr int kSourceRetryDelaySeconds = 30;
    static constexpr int kWarningIcon = 136;
    static constexpr int kInformationIcon = 134;
    static constexpr int kDisconnectionSound = 163;

    LinkSupervisor(RunningState& state, HostLink& hostLink, DetectionListener& listener,
                   Outbox& outbox, TimerService& timers, StatusDisplay& status);

    // WM_HOST_LINK_STATE: 1 attempt, 2 connected, 3 failed or lost; `run` names the link's run.
    void OnHostNotice(std::intptr_t notice, std::uint64_t run = 0);
    void OnQueryTimer();
    void OnReconnectTimer();
    void OnLingerTimer();

    // A source connected: the host link is started with the host and port of the settings.
    void OnSourceConnected();
    // The last source went away: the link stops unless host lines still wait.
    void OnLastSourceGone();
    // Lines an earlier run left waiting: the link is started for them.
    void StartLinkForWaitingLines();
    // Host lines reached the host.
    void OnDelivered(std::size_t delivered, bool outboxEmpty);
    // After each burst: the waiting count shown, and whether the backlog starts to grow.
    void AfterBurst();
    // The race-day timer's tick: the waiting count shown when it has changed.
    void RefreshWaitingCount();

    void UpdateLinkStatus(bool announce);
    bool IsAnyLinkActive() const;
    void DisconnectAll();
    void RefreshButtons();

private:
    void StartLink(int retryDelaySeconds);
    bool HostLinkWanted() const;
    void StopOnceAnswered();
    void ShowWaitingCount();

    RunningState& state_;
    HostLink& hostLink_;
    DetectionListener& listener_;
    Outbox& outbox_;
    TimerService& timers_;
    StatusDisplay& status_;
    bool backlogGrowing_ = false;
    bool warnedOfLoss_ = false;
    std::size_t deliveredAfterLoss_ = 0;
    std::size_t shownWaiting_ = 0;
};

}  // namespace torvane
