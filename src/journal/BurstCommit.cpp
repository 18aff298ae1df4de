#include "journal/BurstCommit.h"

#include "base/Clock.h"
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

bool BurstCommit::AcceptsPassings() const {
    return journal_.IsOpen();
}

bool BurstCommit::Finish() {
    std::string error = journal_.OpenError();
    const bool committed = journal_.IsOpen() && journal_.Commit(error);
    if (!committed) {
        StartEpisode(error);
        // A damaged file is put aside at the next opening; what waits in memory goes there.
        if (journal_.IsDamaged()) journal_.Close();
    } else if (failing_) {
        EndEpisode();
    }
    // Only lines whose passings are on disk leave.
    if (committed) outbox_.HandOver();
    SendReplies(committed);
    return committed;
}

void BurstCommit::StartEpisode(const std::string& error) {
    if (failing_) return;
    failing_ = true;
    lastTryMs_ = clock::NowMs();
    Log(0, Format(Tr("$$$ The journal cannot be written (%s): passings are no longer "
                     "acknowledged, the sources will send them again",
                     "$$$ Écriture du journal des passages impossible (%s) : les passages ne "
                     "sont plus acquittés, les sources les renverront"),
                  error.c_str()));
}

void BurstCommit::EndEpisode() {
    failing_ = false;
    Log(0, Format(Tr("+++ The journal is written again: passings are acknowledged (%zu "
                     "acknowledgements were withheld)",
                     "+++ Le journal des passages est de nouveau écrit : les passages sont "
                     "acquittés (%zu acquittements retenus)"),
                  held_.size()));
}

void BurstCommit::SendReplies(bool committed) {
    if (committed) {
        for (DeferredReply& reply : held_) Send(reply);
        held_.clear();
    }
    std::vector<DeferredReply> replies;
    replies.swap(replies_);
    for (DeferredReply& reply : replies) {
        if (reply.acknowledgesPassings && !committed) {
            held_.push_back(std::move(reply));
        } else {
            Send(reply);
        }
    }
}

void BurstCommit::Send(DeferredReply& reply) {
    if (!reply.logBefore.empty()) Log(75, std::move(reply.logBefore));
    listener_.SendMyLapsReply(*reply.message);
    if (!reply.logAfter.empty()) Log(75, std::move(reply.logAfter));
}

bool BurstCommit::OpenJournal(const std::string& path) {
    std::string error;
    const bool opened = journal_.Open(path, error);
    if (!journal_.KeptAsidePath().empty()) {
        Log(0, Format(Tr("$$$ The journal was damaged: it is kept as %s and a new journal starts",
                         "$$$ Le journal des passages était endommagé : il est gardé sous %s et "
                         "un nouveau journal commence"),
                      journal_.KeptAsidePath().c_str()));
    }
    if (opened) return true;
    lastTryMs_ = clock::NowMs();
    if (!failing_) {
        failing_ = true;
        Log(0, Format(Tr("$$$ The journal %s cannot be opened (%s): no passing will be "
                         "acknowledged until it can",
                         "$$$ Le journal des passages %s ne peut pas être ouvert (%s) : aucun "
                         "passage ne sera acquitté tant qu'il ne le pourra pas"),
                      path.c_str(), error.c_str()));
    }
    return false;
}

bool BurstCommit::Reopen() {
    if (!OpenJournal(journal_.Path())) return false;
    // A journal opened late holds an earlier run's waiting lines; after a damaged one was put
    // aside, the lines that wait are those still in memory.
    if (outbox_.WaitingCount() == 0 && reopened_) reopened_();
    return true;
}

bool BurstCommit::Retry(std::int64_t nowMs) {
    if (!failing_ || nowMs - lastTryMs_ < kRetryIntervalMs) return false;
    lastTryMs_ = nowMs;
    if (!journal_.IsOpen() && !Reopen()) return false;
    return Finish();
}

}  // namespace torvane
