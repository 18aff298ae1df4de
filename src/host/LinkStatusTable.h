#pragma once

#include <optional>
#include <string>

#include "state/RunningState.h"

namespace torvane {

// What the notification icon shows for one combination of detection flow, host link state
// and MyLaps link state.
struct LinkStatusRow {
    int iconId = 0;  // 0: no icon of its own
    std::string tip;
    std::string balloon;  // empty: no announcement
    int soundId = 0;
};

// Nothing for a state outside the table.
std::optional<LinkStatusRow> FindLinkStatusRow(bool flowOpen, HostLinkState hostState,
                                               MyLapsLinkState myLapsState);

}  // namespace torvane
