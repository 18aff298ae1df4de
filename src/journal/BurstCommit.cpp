#include "journal/BurstCommit.h"

#include "base/Logging.h"
#include "base/Texts.h"
#include "journal/Journal.h"
#include "journal/Outbox.h"
#include "net/DetectionListener.h"
#include "net/MyLapsMessage.h"

namespace torvane {

void BurstCommit::DeferReply(std::unique_ptr<MyLapsMessage> message, bool acknowledgesPassings,
                             std::string logBefore, std::string logAfter) {
    replies_.push_back(
        {std::move(message), acknowledgesPassings, std::move(logBefore), std::move(logAfter)});
}

bool BurstCommit::Finish() {
    std::string error;
    const bool committed = journal_.Commit(error);
    if (!committed && !failing_) {
        failing_ = true;
        Log(0, Format(Tr("$$$ The journal cannot be written (%s): passings are no longer "
                         "acknowledged, the sources will send them again",
                         "$$$ Écriture du journal des passages impossible (%s) : les passages ne "
                         "sont plus acquittés, les sources les renverront"),
                      error.c_str()));
    } else if (committed && failing_) {
        failing_ = false;
        Log(0, Format(Tr("+++ The journal is written again: passings are acknowledged (%zu "
                         "acknowledgements were withheld)",
                         "+++ Le journal des passages est de nouveau écrit : les passages sont "
                         "acquittés (%zu acquittements retenus)"),
                      withheld_));
        withheld_ = 0;
    }
    // Detections keep going to the host even when the journal fails: they wait in memory.
    outbox_.HandOver();
    SendReplies(committed);
    return committed;
}

void BurstCommit::SendReplies(bool committed) {
    std::vector<DeferredReply> replies;
    replies.swap(replies_);
    for (DeferredReply& reply : replies) {
        if (reply.acknowledgesPassings && !committed) {
            ++withheld_;
            continue;
        }
        if (!reply.logBefore.empty()) Log(75, std::move(reply.logBefore));
        listener_.SendMyLapsReply(*reply.message);
        if (!reply.logAfter.empty()) Log(75, std::move(reply.logAfter));
    }
}

}  // namespace torvane
