#pragma once

#include <optional>
#include <string>

namespace torvane {

// What the notification icon shows for one combination of detection flow, host link state
// and MyLaps link state.
struct LinkStatusRow {
    int iconId = 0;  // 0: no icon of its own
    std::string tip;
    std::string balloon;  // empty: no announcement
    int soundId = 0;
};

std::optional<LinkStatusRow> FindLinkStatusRow(bool flowOpen, int hostState, int myLapsState);

}  // namespace torvane
