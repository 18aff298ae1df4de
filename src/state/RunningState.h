#pragma once

#include <array>
#include <string>

namespace torvane {

// The link states keep the values the status table and the settings have always used.
enum class HostLinkState : int { Disconnected = 0, Connecting = 1, Connected = 2 };
enum class MyLapsLinkState : int { Waiting = 0, Connected = 2 };

// The running state of the program: read and changed on the user-interface thread only.
struct RunningState {
    // Start-up settings.
    std::string ownName = "Bag";
    bool openWindowAtStartup = true;
    bool closeFlowAtStartup = true;

    // Detection processing.
    bool flowOpen = false;
    bool ignoreUnknownChips = false;
    bool alsoTransmit = true;
    int daysToAdd = 0;
    std::array<std::string, 4> raceDays;  // D0 to D3, YYYYMMDD

    // DAG recording.
    bool dagRecording = false;
    std::string dagPath;
    int dagCounter = 1;

    HostLinkState hostLinkState = HostLinkState::Disconnected;
    MyLapsLinkState myLapsLinkState = MyLapsLinkState::Waiting;
    int connectedSources = 0;
};

}  // namespace torvane
