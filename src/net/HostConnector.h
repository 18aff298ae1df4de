#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace torvane {

struct HostTarget {
    std::string host;
    int port = 0;
};

// The runs of the host link that the program asks for, and the connecting and retrying of each.
// A run is numbered; it connects with a time-out, waits its retry delay after a failed attempt
// and tries again, until it is connected or stopped. The delay is the one given when the run
// began: a later start (the reconnection's short delay) does not shorten a run that is waiting
// out a source's longer delay. The target follows the latest request at once.
//
// Locking: `lock_` guards everything but `liveRun_`, which the worker reads without it to see a
// stop inside a connection attempt. Posts WM_HOST_LINK_STATE 1 and 3 for each failed attempt.
class HostConnector {
public:
    // A run is asked for: the newest target serves its next attempt; true when a new run begins.
    bool Start(const std::string& host, int port, int retryDelaySeconds);
    // The run under way is no longer wanted; false when none was.
    bool Stop();
    void UpdateTarget(const std::string& host, int port);
    // No run begins after this; the worker's WaitForRun returns 0.
    void Shutdown();

    bool IsCurrent(std::uint64_t run) const { return run != 0 && liveRun_.load() == run; }
    bool IsRunning() const;
    bool WaitUntilStopped(std::chrono::milliseconds timeout);

    // The worker's side: the next run to serve (0 at shut-down), and its end.
    std::uint64_t WaitForRun();
    void Finish(std::uint64_t run);
    // Attempts until one succeeds (its non-blocking socket) or the run is stopped (-1).
    int Connect(std::uint64_t run);
    // Calls `adopt` under the lock unless the run was stopped meanwhile, so that nothing it
    // posts can follow a stop.
    bool AdoptIfCurrent(std::uint64_t run, const std::function<void()>& adopt);

private:
    int ConnectOnce(const HostTarget& target, std::uint64_t run) const;
    bool WaitBeforeRetry(std::uint64_t run, const HostTarget& tried,
                         std::chrono::steady_clock::time_point failed);

    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool shuttingDown_ = false;
    bool wanted_ = false;
    std::uint64_t wantedRun_ = 0;
    std::atomic<std::uint64_t> liveRun_{0};  // wantedRun_ while wanted, else 0
    HostTarget target_;
    int retryDelaySeconds_ = 0;
    bool running_ = false;
    std::uint64_t finishedRun_ = 0;
};

}  // namespace torvane
