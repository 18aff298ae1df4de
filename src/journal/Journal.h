#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "journal/JournalBatch.h"
#include "journal/JournalEntry.h"
#include "journal/JournalWriter.h"
#include "journal/RecordKey.h"
#include "journal/SentMarkFile.h"
#include "journal/SqliteDatabase.h"

namespace torvane {

// A host line still waiting for the host, in the order of its sequence number.
struct WaitingHostLine {
    std::int64_t seq = 0;
    std::string text;
};

// A journaled detection taken again for the host.
struct ForwardedDetection {
    std::int64_t passingId = 0;
    std::string line;
};

// The passing journal and the host outbox, in one SQLite file beside the settings. Additions
// gather in memory; a commit hands them to the journal's writer thread, which writes them in one
// transaction (one disk flush) while the next ones gather. A commit that fails gives its batch
// back, ahead of what gathered since. Look-ups read through a connection of their own, those of
// a burst in one read transaction. Used on the user-interface thread only.
class Journal {
public:
    static constexpr const char* kFileName = "Torvane-journal.db";
    static constexpr int kBusyTimeoutMs = JournalWriter::kBusyTimeoutMs;

    Journal() = default;
    // Waits for the commit under way: its batch must outlive the writer's work on it.
    ~Journal() { Close(); }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Opens (or creates) the file in WAL mode with full synchronous writes and brings an older
    // layout up to date; false with the reason. A file that SQLite finds damaged is kept aside
    // (KeptAsidePath) and a new journal starts. A journal that is not open refuses every commit.
    bool Open(const std::string& path, std::string& error);
    // Closes the file once the commit under way is done (its outcome is taken).
    void Close();
    bool IsOpen() const { return database_.IsOpen(); }
    const std::string& Path() const { return path_; }
    const std::string& OpenError() const { return openError_; }
    // Where the last Open put a damaged file; empty when it found none.
    const std::string& KeptAsidePath() const { return keptAside_; }
    // Whether SQLite found the file damaged at the last failed opening or commit.
    bool IsDamaged() const { return damaged_; }

    // Whether this source's record was forwarded already (or will be, once committed). A record
    // that was journaled without being forwarded is not a resend.
    bool Contains(std::string_view source, std::string_view record);
    // Ends the read transaction of a burst's look-ups.
    void EndLookups();

    // Adds a passing or a manual detection; returns its id.
    std::int64_t Add(JournalEntry entry);
    // Adds a line for the host, made from the given passing; returns its sequence number. `asBib`
    // names the bib that the line sends an unknown chip's passing again with.
    std::int64_t AddHostLine(std::int64_t passingId, std::string line, std::string asBib = {});
    // Gives a passing journaled without a detection the one made of it later.
    void SetDetection(std::int64_t passingId, std::string bib, std::string raceTime);
    // Every line up to `seq` has reached the host's TCP stack.
    void MarkSent(std::int64_t seq, std::int64_t utcMs);

    // Whether additions wait for a commit (not counting the one under way).
    bool HasPending() const { return !pending_.Empty(); }
    // How many commits have written something.
    std::size_t CommitCount() const { return commits_; }
    // Checkpoints of the write-ahead log run beside the commits since the opening.
    int CheckpointsDone() const { return writer_.CheckpointsDone(); }

    // Hands what gathered to the writer thread; false when a commit is under way already, when
    // nothing gathered, or when the journal is not open.
    bool StartCommit();
    bool CommitInFlight() const { return writer_.InFlight(); }
    // The outcome of the commit under way, once it has finished: true when one was taken, with
    // `ok` and the reason of a failure in `error`.
    bool TakeCommitOutcome(bool& ok, std::string& error);
    // Waits for the commit under way, if one is, and takes its outcome.
    bool WaitForCommit(bool& ok, std::string& error);
    // Writes everything added so far and waits; false (everything kept) with the reason.
    bool Commit(std::string& error);
    // Called on the writer thread whenever a commit has finished.
    void SetCommitFinishedNotice(std::function<void()> notice);
    void SetCommitGateForTesting(std::function<void()> gate) {
        writer_.SetGateForTesting(std::move(gate));
    }

    // The highest sequence number on disk.
    std::int64_t CommittedSeq() const { return committedSeq_; }
    // How many committed lines wait for the host.
    std::size_t WaitingLineCount(std::string& error);
    // Up to `limit` committed lines that wait for the host, from sequence number `fromSeq` on,
    // in order.
    std::vector<WaitingHostLine> WaitingLinesFrom(std::int64_t fromSeq, std::size_t limit,
                                                  std::string& error);
    // Makes the lines marked sent at or after `sinceUtcMs` wait again; how many, and the first
    // of them in `firstSeq`. Nothing may be pending or under way.
    std::size_t UnmarkSentSince(std::int64_t sinceUtcMs, std::int64_t& firstSeq,
                                std::string& error);
    // The first host line of every journaled passing received in [fromUtcMs, toUtcMs], in order.
    std::vector<ForwardedDetection> ForwardedBetween(std::int64_t fromUtcMs, std::int64_t toUtcMs,
                                                     std::string& error);

private:
    using KeyIndex = std::unordered_multimap<std::int64_t, std::size_t>;  // key -> entry

    bool OpenFile(const std::string& path, std::string& error);
    bool KeepDamagedFileAside(std::string& error);
    void ReadNextIds();
    bool RecordNotedMarks(std::string& error);
    void Finished(bool ok, const JournalWriter::Outcome& outcome);
    bool StoredContains(std::int64_t key, std::string_view source, std::string_view record);

    JournalWriter writer_;
    SqliteDatabase database_;  // the look-ups' connection
    SqliteStatement findRecord_;
    SentMarkFile sentNote_;  // the marks of lines sent while commits fail
    bool failing_ = false;   // since the last commit failed
    std::string path_;
    std::string openError_ = "not opened";
    std::string keptAside_;
    bool inTransaction_ = false;
    bool damaged_ = false;

    std::int64_t nextPassingId_ = 1;
    std::int64_t nextSeq_ = 1;
    std::int64_t committedSeq_ = 0;
    JournalBatch pending_;   // gathering
    KeyIndex pendingKeys_;   // of pending_.entries
    JournalBatch inFlight_;  // the writer's while a commit is under way
    KeyIndex inFlightKeys_;  // of inFlight_.entries
    std::size_t commits_ = 0;
};

}  // namespace torvane
