#pragma once

#include <array>
#include <string>

namespace torvane {

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

    // Link states: host 0 disconnected, 1 connecting, 2 connected; MyLaps 0 waiting, 2 connected.
    int hostLinkState = 0;
    int myLapsLinkState = 0;
    int connectedSources = 0;
};

}  // namespace torvane
