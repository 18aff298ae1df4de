#pragma once

#include <memory>
#include <string>
#include <vector>

namespace torvane {

// The notices of WM_HOST_LINK_STATE (its wParam).
enum class HostNotice : int { Attempt = 1, Connected = 2, Ended = 3 };

// The one outgoing TCP link to the Ostrak Pro host: a thread that resolves, connects with a
// 2-second time-out and retries, then reads lines and posts them (WM_HOST_LINE) with its state
// notices (WM_HOST_LINK_STATE: 1 attempt, 2 connected, 3 failed or ended).
class HostLink {
public:
    static constexpr int kConnectTimeoutSeconds = 2;
    static constexpr int kWaitStepMs = 250;
    static constexpr size_t kMaxLineBytes = 2047;

    HostLink();
    // Stops the link and waits for its thread.
    ~HostLink();

    // Starts the link thread unless one runs (then the arguments are dropped).
    void StartHostLink(const std::string& host, int port, int retryDelaySeconds);
    // Ends the link if its thread runs; returns at once.
    void StopHostLink();
    // Sends text + CR LF whole on the open link; false when no link is open or the send fails.
    bool SendHostLine(const std::string& text);
    // Sends each text + CR LF, in order, in as few writes as the socket allows (one when it takes
    // them all). Returns how many lines went out whole, counted from the first; 0 when no link
    // is open.
    std::size_t SendHostLines(const std::vector<std::string>& texts);
    bool IsHostLinkConnected() const;
    bool IsRunning() const;

    // Waits until no link thread runs (tests); false on time-out.
    bool WaitUntilStopped(int timeoutMs);

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace torvane
