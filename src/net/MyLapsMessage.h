#pragma once

#include <cstdint>
#include <string>

#include "base/PostedMessage.h"

namespace torvane {

// Identifies one accepted source connection for the life of the process (never reused).
using ConnectionId = std::uint64_t;

// One "$"-ended message of a MyLaps source, posted with WM_MYLAPS_MESSAGE.
struct MyLapsMessage : PostedPayload {
    MyLapsMessage(ConnectionId c, std::string t) : connection(c), text(std::move(t)) {}
    ConnectionId connection;  // addresses the reply only
    std::string text;         // the bytes before the "$" (up to a NUL, if one is inside)
    std::string reply;        // filled by the protocol layer
};

}  // namespace torvane
