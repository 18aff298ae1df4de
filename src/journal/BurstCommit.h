#pragma once

#include <memory>
#include <string>
#include <vector>

namespace torvane {

class Journal;
class Outbox;
class DetectionListener;
struct MyLapsMessage;

// Lets what a burst of messages produced leave only once it is on disk: at the end of each
// burst the journal is committed once, then the new host lines are handed to the host link and
// the replies go to the sources, in the order they were made. A reply that acknowledges
// passings is sent only when the commit succeeded: otherwise the source keeps them and sends
// them again. Used on the user-interface thread only.
class BurstCommit {
public:
    BurstCommit(Journal& journal, Outbox& outbox, DetectionListener& listener)
        : journal_(journal), outbox_(outbox), listener_(listener) {}

    // The message's reply (already filled) waits for the end of the burst. `logLine` is
    // written just before it is sent, or `logAfter` just after.
    void DeferReply(std::unique_ptr<MyLapsMessage> message, bool acknowledgesPassings,
                    std::string logBefore, std::string logAfter);

    // Ends the burst. False when the journal could not be written.
    bool Finish();

    bool IsFailing() const { return failing_; }

private:
    struct DeferredReply {
        std::unique_ptr<MyLapsMessage> message;
        bool acknowledgesPassings;
        std::string logBefore;
        std::string logAfter;
    };

    void SendReplies(bool committed);

    Journal& journal_;
    Outbox& outbox_;
    DetectionListener& listener_;
    std::vector<DeferredReply> replies_;
    bool failing_ = false;
    std::size_t withheld_ = 0;
};

}  // namespace torvane
