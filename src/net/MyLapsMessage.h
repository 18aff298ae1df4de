#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/PostedMessage.h"
#include "net/SourceBudget.h"

namespace torvane {

// Identifies one accepted source connection for the life of the process (never reused).
using ConnectionId = std::uint64_t;

// One "$"-ended message of a MyLaps source, posted with WM_MYLAPS_MESSAGE.
struct MyLapsMessage : PostedPayload {
    MyLapsMessage(ConnectionId c, std::string t, std::int64_t received = 0)
        : connection(c), text(std::move(t)), receivedUtcMs(received) {}
    // The message's work is done: its source may be read again.
    ~MyLapsMessage() override {
        if (budget) budget->Release(budgetBytes, budgetPassings);
    }
    MyLapsMessage(const MyLapsMessage&) = delete;
    MyLapsMessage& operator=(const MyLapsMessage&) = delete;

    ConnectionId connection;  // addresses the reply only
    std::string text;         // the bytes before the "$" (up to a NUL, if one is inside)
    std::string reply;        // filled by the protocol layer
    std::int64_t receivedUtcMs = 0;

    // What this message counts for in its source's budget.
    std::shared_ptr<SourceBudget> budget;
    std::size_t budgetBytes = 0;
    std::size_t budgetPassings = 0;
};

// WM_MYLAPS_CONNECTION's payload: which connection came or went, and from where.
struct ConnectionPayload : PostedPayload {
    ConnectionPayload(ConnectionId c, std::string p) : connection(c), peer(std::move(p)) {}
    ConnectionId connection;
    std::string peer;  // the peer's address
};

}  // namespace torvane
