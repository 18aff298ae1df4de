#include "delivery/BurstCommit.h"

#include <iterator>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/Texts.h"
#include "journal/Journal.h"
#include "delivery/Outbox.h"
#include "net/DetectionListener.h"
#include "net/MyLapsMessage.h"

namespace torvane {

void BurstCommit::DeferReply(std::unique_ptr<MyLapsMessage> message, bool acknowledgesPassings,
                             std::string logBefore, std::string logAfter) {
    DeferredReply reply{std::move(message), std::move(logBefore), std::move(logAfter)};
    if (acknowledgesPassings) {
        gathering_.push_back(std::move(reply));
    } else {
        Send(reply);
    }
}

bool BurstCommit::AcceptsPassings() const {
    return journal_.IsOpen();
}

void BurstCommit::Finish() {
    journal_.EndLookups();
    // A journal that could not be opened waits for Retry; one that failed to write is tried
    // again at once, with everything it kept.
    if (!journal_.CommitInFlight()) Kick();
}

// Starts the next commit with what gathered; with nothing to write, what the gathered
// acknowledgements acknowledge is on disk already, and they leave.
void BurstCommit::Kick() {
    if (journal_.CommitInFlight()) return;
    // A journal that could not be opened is tried again by Retry.
    if (!journal_.IsOpen()) return;
    if (!journal_.HasPending()) {
        if (failing_) EndEpisode();
        SendAll(gathering_);
        return;
    }
    journal_.StartCommit();
    inFlight_ = std::move(gathering_);
    gathering_.clear();
}

void BurstCommit::OnCommitFinished() {
    bool ok = false;
    std::string error;
    if (journal_.TakeCommitOutcome(ok, error)) Completed(ok, error);
}

void BurstCommit::Completed(bool ok, const std::string& error) {
    if (!ok) {
        // Everything stays: the batch is back in the journal, its acknowledgements ahead.
        inFlight_.insert(inFlight_.end(), std::make_move_iterator(gathering_.begin()),
                         std::make_move_iterator(gathering_.end()));
        gathering_ = std::move(inFlight_);
        inFlight_.clear();
        withheld_ = gathering_.size();
        StartEpisode(error);
        // A damaged file is put aside at the next opening; what waits in memory goes there.
        if (journal_.IsDamaged()) journal_.Close();
        return;
    }
    if (failing_) EndEpisode();
    // Only lines whose passings are on disk leave.
    outbox_.HandOver();
    SendAll(inFlight_);
    Kick();
}

bool BurstCommit::Flush() {
    Finish();
    bool ok = !failing_;
    std::string error;
    while (ok && journal_.WaitForCommit(ok, error)) Completed(ok, error);
    return ok;
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
                  withheld_));
    withheld_ = 0;
}

void BurstCommit::SendAll(Replies& replies) {
    for (DeferredReply& reply : replies) Send(reply);
    replies.clear();
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
    if (!failing_) {
        failing_ = true;
        lastTryMs_ = clock::NowMs();
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

void BurstCommit::Retry(std::int64_t nowMs) {
    if (!failing_ || journal_.CommitInFlight() || nowMs - lastTryMs_ < kRetryIntervalMs) return;
    lastTryMs_ = nowMs;
    if (!journal_.IsOpen() && !Reopen()) return;
    Kick();
}

}  // namespace torvane
