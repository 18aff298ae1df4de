#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "journal/Journal.h"

namespace torvane {

class HostLink;

// The host lines not yet known to have reached the host. Each is journaled before it leaves,
// handed to the open host link after the commit, marked sent once the host's TCP stack has
// acknowledged all its bytes, and handed again, in order, after a lost link. Used on the
// user-interface thread only.
class Outbox {
public:
    Outbox(Journal& journal, HostLink& link) : journal_(journal), link_(link) {}

    // The lines an earlier run left waiting; returns how many.
    std::size_t LoadWaiting(std::string& error);

    // A new line made from a journaled passing; it leaves at the next HandOver.
    void Add(std::int64_t passingId, std::string line);
    // Hands the lines not yet handed to the open link (after each commit).
    void HandOver();

    // The host link of run `run` is open: every waiting line goes to it, oldest first.
    void OnLinkConnected(std::uint64_t run);
    void OnLinkLost();
    // Every line up to `seq` has reached the host.
    void OnDelivered(std::int64_t seq);

    std::size_t WaitingCount() const { return waiting_.size(); }
    const std::deque<WaitingHostLine>& Waiting() const { return waiting_; }

    // Called after lines were delivered, with how many left the outbox, and whether it is empty.
    void SetDeliveredObserver(std::function<void(std::size_t delivered, bool empty)> observer) {
        deliveredObserver_ = std::move(observer);
    }

private:
    Journal& journal_;
    HostLink& link_;
    std::deque<WaitingHostLine> waiting_;  // in sequence order
    std::size_t handed_ = 0;               // lines at the front handed to the open link
    std::uint64_t run_ = 0;                // the open link's run; 0 while none is open
    std::function<void(std::size_t, bool)> deliveredObserver_;
};

}  // namespace torvane
