#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

class Journal;
class Outbox;
class DetectionListener;
struct MyLapsMessage;

// Lets what a burst of messages produced leave only once it is on disk. At the end of a burst
// its additions go to the journal's writer thread in one commit, unless a commit is under way:
// then they gather and go with the next one, so a slow disk makes commits larger, not the
// window thread slower. When a commit is done, its host lines are handed to the host link and
// the acknowledgements it carries go to the sources, in the order they were made. Replies that
// acknowledge nothing leave at the end of their burst.
//
// While the journal cannot be written, acknowledgements are held with their messages (which
// keeps their sources from being read further) and no new line leaves; the commit is tried
// again every few seconds, and a journal that could not be opened is opened again. The operator
// is told once when an episode starts and once when it ends. Used on the user-interface thread
// only.
class BurstCommit {
public:
    static constexpr std::int64_t kRetryIntervalMs = 3000;

    BurstCommit(Journal& journal, Outbox& outbox, DetectionListener& listener)
        : journal_(journal), outbox_(outbox), listener_(listener) {}

    // The message's reply (already filled) waits for the end of the burst. `logBefore` is
    // written just before it is sent, or `logAfter` just after.
    void DeferReply(std::unique_ptr<MyLapsMessage> message, bool acknowledgesPassings,
                    std::string logBefore, std::string logAfter);

    // Ends the burst: its additions are committed, now or after the commit under way.
    void Finish();
    // The journal's writer has finished a commit (posted by its thread).
    void OnCommitFinished();
    // Commits everything gathered so far and waits (at exit); false when the journal failed.
    bool Flush();

    // Opens the journal at `path`; false (and the operator told) when it cannot be, in which
    // case Retry opens it again later. Logs a damaged file kept aside.
    bool OpenJournal(const std::string& path);
    // Every tick: a journal that is not open, or whose last commit failed, is tried again once
    // the retry interval has passed.
    void Retry(std::int64_t nowMs);
    // Called when a journal that could not be opened has just been opened.
    void SetReopenedHandler(std::function<void()> handler) { reopened_ = std::move(handler); }

    bool IsFailing() const { return failing_; }
    // Whether passings can be taken now (the journal is open).
    bool AcceptsPassings() const;

private:
    struct DeferredReply {
        std::unique_ptr<MyLapsMessage> message;
        std::string logBefore;
        std::string logAfter;
    };
    using Replies = std::vector<DeferredReply>;

    void Kick();
    void Completed(bool ok, const std::string& error);
    void SendAll(Replies& replies);
    void Send(DeferredReply& reply);
    void StartEpisode(const std::string& error);
    void EndEpisode();
    bool Reopen();

    Journal& journal_;
    Outbox& outbox_;
    DetectionListener& listener_;
    Replies gathering_;  // acknowledgements for the next commit
    Replies inFlight_;   // acknowledgements of the commit under way
    bool failing_ = false;
    std::size_t withheld_ = 0;
    std::int64_t lastTryMs_ = 0;
    std::function<void()> reopened_;
};

}  // namespace torvane
