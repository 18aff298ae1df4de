#pragma once

#include <cstdint>

#include "app/RunningState.h"

namespace torvane {

class HostLink;
class DetectionListener;
class DetectionForwarder;
class TimerService;
class StatusDisplay;

// Keeps the host link up while a MyLaps source is connected and shows how both links stand.
class LinkSupervisor {
public:
    static constexpr int kQueryDelayMs = 300;
    static constexpr int kReconnectDelayMs = 10000;
    static constexpr int kReconnectRetryDelaySeconds = 2;

    LinkSupervisor(RunningState& state, HostLink& hostLink, DetectionListener& listener,
                   DetectionForwarder& forwarder, TimerService& timers, StatusDisplay& status);

    // WM_HOST_LINK_STATE: 1 attempt, 2 connected, 3 failed or lost.
    void OnHostNotice(std::intptr_t notice);
    void OnQueryTimer();
    void OnReconnectTimer();

    void UpdateLinkStatus(bool announce);
    bool IsAnyLinkActive() const;
    void DisconnectAll();
    void RefreshButtons();

private:
    RunningState& state_;
    HostLink& hostLink_;
    DetectionListener& listener_;
    DetectionForwarder& forwarder_;
    TimerService& timers_;
    StatusDisplay& status_;
};

}  // namespace torvane
