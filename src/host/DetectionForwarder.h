#pragma once

#include <deque>
#include <string>

namespace torvane {

class HostLink;

// Sends detection commands to the host and holds those that find no open link, so that no
// detection is lost while the host is down: held commands go out first, in arrival order, as
// soon as a link is open again.
class DetectionForwarder {
public:
    static constexpr size_t kMaxHeld = 100000;

    explicit DetectionForwarder(HostLink& link) : link_(link) {}

    void Forward(const std::string& command);
    // Sends what is held while the link is open; logs how many went out.
    void SendHeld();
    size_t HeldCount() const { return held_.size(); }
    const std::deque<std::string>& Held() const { return held_; }

private:
    void Hold(const std::string& command);

    HostLink& link_;
    std::deque<std::string> held_;
};

}  // namespace torvane
