#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "journal/Journal.h"

namespace torvane {

class HostLink;

// The host lines not yet known to have reached the host. Each is journaled before it leaves,
// handed to the open host link only once its commit is done, marked sent once the host's TCP
// stack has acknowledged all its bytes, and handed again, in order, after a lost link. Only the
// oldest waiting lines are held in memory (a window); the rest wait in the journal and are read
// a page at a time as the window empties. Used on the user-interface thread only.
class Outbox {
public:
    static constexpr std::size_t kWindowLines = 10000;

    Outbox(Journal& journal, HostLink& link) : journal_(journal), link_(link) {}

    // Takes up the lines the journal holds waiting (an earlier run's); returns how many wait.
    std::size_t LoadWaiting(std::string& error);

    // A new line made from a journaled passing; it leaves at the first HandOver after its
    // commit.
    void Add(std::int64_t passingId, std::string line, std::string asBib = {});
    // Hands the committed lines not yet handed to the open link (after each commit).
    void HandOver();

    // The host link of run `run` is open: every waiting line goes to it, oldest first.
    void OnLinkConnected(std::uint64_t run);
    void OnLinkLost();
    // Every line up to `seq` has reached the host.
    void OnDelivered(std::int64_t seq);
    // The lines marked sent since `sinceUtcMs` wait again, before the others: their host lost
    // them. Nothing may wait for a commit. Returns how many.
    std::size_t RequeueSentSince(std::int64_t sinceUtcMs, std::string& error);

    std::size_t WaitingCount() const { return waitingCount_; }
    // The oldest waiting lines, those held in memory.
    const std::deque<WaitingHostLine>& Waiting() const { return window_; }

    // Called after lines were delivered, with how many left the outbox, and whether it is empty.
    void SetDeliveredObserver(std::function<void(std::size_t delivered, bool empty)> observer) {
        deliveredObserver_ = std::move(observer);
    }

private:
    // Reads the next page of waiting lines from the journal while the window has room.
    void Refill();

    Journal& journal_;
    HostLink& link_;
    std::deque<WaitingHostLine> window_;  // the oldest waiting lines, in sequence order
    std::size_t waitingCount_ = 0;        // in the window and in the journal only
    std::int64_t unloadedFrom_ = 0;       // the first waiting line not in the window; 0: none
    std::size_t handed_ = 0;              // lines at the front handed to the open link
    std::uint64_t run_ = 0;               // the open link's run; 0 while none is open
    std::function<void(std::size_t, bool)> deliveredObserver_;
};

}  // namespace torvane
