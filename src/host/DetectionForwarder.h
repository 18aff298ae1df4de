#pragma once

#include <deque>
#include <string>
#include <vector>

namespace torvane {

class HostLink;

// Sends detection commands to the host and holds those that find no open link, so that no
// detection is lost while the host is down: held commands go out first, in arrival order, as
// soon as a link is open again.
class DetectionForwarder {
public:
    static constexpr size_t kMaxHeld = 100000;

    explicit DetectionForwarder(HostLink& link) : link_(link) {}

    // While a batch is open, forwarded commands wait in order and go out together when it
    // closes: the detections of one MyLaps message cost one write, and are all sent (or held)
    // before that message is acknowledged. Batches may nest; the outermost one sends.
    class Batch {
    public:
        explicit Batch(DetectionForwarder& forwarder) : forwarder_(forwarder) {
            forwarder_.OpenBatch();
        }
        ~Batch() { forwarder_.CloseBatch(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        DetectionForwarder& forwarder_;
    };

    void Forward(const std::string& command);
    // Sends what is held while the link is open; logs how many went out.
    void SendHeld();
    size_t HeldCount() const { return held_.size(); }
    const std::deque<std::string>& Held() const { return held_; }

private:
    void OpenBatch() { ++batchDepth_; }
    void CloseBatch();
    void Hold(const std::string& command);

    HostLink& link_;
    std::deque<std::string> held_;
    int batchDepth_ = 0;
    std::vector<std::string> batch_;
};

}  // namespace torvane
