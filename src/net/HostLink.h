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
// 2-second time-out and retries (HostConnector), then serves the link: it reads lines and posts
// them (WM_HOST_LINE) as fast as they are handled (HostAnswerReader), and writes the queued
// lines without ever blocking the thread that queued them (HostSendQueue). Each run posts its
// notices (WM_HOST_LINK_STATE: 1 attempt, 2 connected, 3 failed or ended). A run makes one link:
// it ends with it.
//
// A link that Torvane ends while bytes still wait for the host (a stop, the stall rule) is
// reset, so that nothing the kernel still holds reaches the host after the Ended notice, which
// lets the outbox send those lines again. A link the host resets posts WM_HOST_RESET before its
// Ended notice: lines the host's TCP had acknowledged may not have reached its program.
class HostLink {
public:
    static constexpr int kConnectTimeoutSeconds = 2;
    static constexpr int kWaitStepMs = 250;
    static constexpr size_t kMaxLineBytes = 2047;
    // A host that takes none of the bytes waiting for it for this long is lost.
    static constexpr std::chrono::milliseconds kStallLimit{30000};
    // How long a link that Torvane ends in order waits for the host to end its side.
    static constexpr std::chrono::milliseconds kGracefulCloseLimit{500};

    HostLink();
    // Stops the link and waits for its thread.
    ~HostLink();

    // Starts a run unless one is under way. A run that is being stopped ends first, then the
    // new one begins. A run already under way takes the new host and port at once (a wait for
    // the next attempt ends) and keeps the retry delay it began with.
    void StartHostLink(const std::string& host, int port, int retryDelaySeconds);
    // Ends the run, if one is under way; returns at once.
    void StopHostLink();
    // For a clean exit, on the window thread: takes no more lines, waits up to `limit` until
    // every queued byte is written and acknowledged by the host's TCP (or the link ends), then
    // ends the run: in order when everything is through, with a reset otherwise. Returns the
    // highest tracked line whose bytes are all acknowledged (0 when none is, or no link is open).
    std::int64_t DrainAndStop(std::chrono::milliseconds limit);
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
    // What the host's answers posted and not yet handled hold (bytes, with their bookkeeping).
    std::int64_t UnhandledAnswerBytes() const;

    // Waits until no run is under way (tests); false on time-out.
    bool WaitUntilStopped(int timeoutMs);
    void SetStallLimitForTesting(std::chrono::milliseconds limit);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace torvane
