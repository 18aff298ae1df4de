#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

// The notices of WM_HOST_LINK_STATE (its wParam; its payload names the run).
enum class HostNotice : int { Attempt = 1, Connected = 2, Ended = 3 };

// One line for the host. Lines with a sequence number are tracked: WM_HOST_DELIVERED reports
// the highest one whose bytes the host's TCP stack has acknowledged.
struct OutgoingLine {
    std::int64_t seq = 0;  // 0: not tracked
    std::string text;      // without CR LF
};

// The one outgoing TCP link to the Ostrak Pro host. A worker thread resolves, connects with a
// 2-second time-out and retries, then serves the link: it reads lines and posts them
// (WM_HOST_LINE), and writes the queued lines without ever blocking the thread that queued
// them. Each run posts its notices (WM_HOST_LINK_STATE: 1 attempt, 2 connected, 3 failed or
// ended). A run makes one link: it ends with it.
class HostLink {
public:
    static constexpr int kConnectTimeoutSeconds = 2;
    static constexpr int kWaitStepMs = 250;
    static constexpr size_t kMaxLineBytes = 2047;
    // A host that takes none of the bytes waiting for it for this long is lost.
    static constexpr std::chrono::milliseconds kStallLimit{30000};

    HostLink();
    // Stops the link and waits for its thread.
    ~HostLink();

    // Starts a run unless one is under way. A run that is being stopped ends first, then the
    // new one begins. A run already under way takes the new host, port and retry delay at its
    // next attempt.
    void StartHostLink(const std::string& host, int port, int retryDelaySeconds);
    // Ends the run, if one is under way; returns at once.
    void StopHostLink();
    // A run under way takes this host and port at its next attempt; nothing when none is.
    void UpdateTarget(const std::string& host, int port);
    // Queues text + CR LF for the open link (not tracked); false when no link is open.
    bool SendHostLine(const std::string& text);
    // Queues the lines, in order, for the link of run `run`; false (nothing queued) when that
    // run's link is not the open one.
    bool QueueLines(std::uint64_t run, const std::vector<OutgoingLine>& lines);

    bool IsHostLinkConnected() const;
    // The run whose link is open; 0 when none is.
    std::uint64_t ConnectedRun() const;
    // Whether a run is wanted or still ending.
    bool IsRunning() const;
    // Bytes queued for the open link and not yet written to its socket.
    std::size_t UnwrittenBytes() const;

    // For a clean stop: waits up to `limit` until every queued byte has been written and
    // acknowledged by the host's TCP, then ends the run. Returns the highest tracked line known
    // to have reached the host (0 when none).
    std::int64_t DrainAndStop(std::chrono::milliseconds limit);

    // Waits until no run is under way (tests); false on time-out.
    bool WaitUntilStopped(int timeoutMs);
    void SetStallLimitForTesting(std::chrono::milliseconds limit);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace torvane
