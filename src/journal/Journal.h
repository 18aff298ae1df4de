#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "journal/RecordKey.h"
#include "journal/SqliteDatabase.h"

namespace torvane {

enum class PassingKind : int { Store = 0, Passing = 1, Manual = 2 };

// One passing as received, or one manual detection, with the detection made from it.
struct JournalEntry {
    PassingKind kind = PassingKind::Store;
    std::string source;  // the source's name, or the detector of a manual detection
    std::string record;  // the record as received (a manual detection: what the operator gave)
    std::string token;   // the message's acknowledgement token
    std::int64_t receivedUtcMs = 0;
    int utcOffsetSeconds = 0;  // local time = UTC + offset
    // The detection; empty texts where none was made (a bad time, a closed flow...).
    std::string chip;
    std::string bib;  // the bib, or the chip code of a chip missing from the table
    std::string raceTime;
    std::string boxDate;  // YYYYMMDD
    // Why no detection was forwarded (a bad time, a closed flow...); empty when one was.
    std::string reason;
};

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
// wait in memory until Commit writes them all in one transaction (one disk flush per burst);
// a commit that fails keeps them for the next one. The look-ups of a burst share one read
// transaction, which its commit ends. Used on the user-interface thread only.
class Journal {
public:
    static constexpr const char* kFileName = "Torvane-journal.db";
    // How long a statement waits for a lock that another program holds.
    static constexpr int kBusyTimeoutMs = 250;

    // Opens (or creates) the file in WAL mode with full synchronous writes and brings an older
    // layout up to date; false with the reason. A file that SQLite finds damaged is kept aside
    // (KeptAsidePath) and a new journal starts. A journal that is not open refuses every commit.
    bool Open(const std::string& path, std::string& error);
    void Close();
    bool IsOpen() const { return database_.IsOpen(); }
    const std::string& Path() const { return path_; }
    const std::string& OpenError() const { return openError_; }
    // Where the last Open put a damaged file; empty when it found none.
    const std::string& KeptAsidePath() const { return keptAside_; }
    // Whether SQLite found the file damaged at the last failed opening or commit.
    bool IsDamaged() const { return damaged_; }

    // Whether this source's record was forwarded already (or waits for the next commit so).
    // A record that was journaled without being forwarded is not a resend.
    bool Contains(std::string_view source, std::string_view record);

    // Adds a passing or a manual detection; returns its id.
    std::int64_t Add(JournalEntry entry);
    // Adds a line for the host, made from the given passing; returns its sequence number.
    std::int64_t AddHostLine(std::int64_t passingId, std::string line);
    // Every line up to `seq` has reached the host's TCP stack.
    void MarkSent(std::int64_t seq, std::int64_t utcMs);

    bool HasPending() const;
    // How many commits have written something (one per burst that brought work).
    std::size_t CommitCount() const { return commits_; }
    // Writes everything added since the last successful commit; false (everything kept) with
    // the reason.
    bool Commit(std::string& error);

    // The highest sequence number on disk.
    std::int64_t CommittedSeq() const { return committedSeq_; }
    // How many committed lines wait for the host.
    std::size_t WaitingLineCount(std::string& error);
    // Up to `limit` committed lines that wait for the host, from sequence number `fromSeq` on,
    // in order.
    std::vector<WaitingHostLine> WaitingLinesFrom(std::int64_t fromSeq, std::size_t limit,
                                                  std::string& error);
    // Makes the lines marked sent at or after `sinceUtcMs` wait again; how many, and the first
    // of them in `firstSeq`. Nothing may be pending.
    std::size_t UnmarkSentSince(std::int64_t sinceUtcMs, std::int64_t& firstSeq,
                                std::string& error);
    // The first host line of every journaled passing received in [fromUtcMs, toUtcMs], in order.
    std::vector<ForwardedDetection> ForwardedBetween(std::int64_t fromUtcMs, std::int64_t toUtcMs,
                                                     std::string& error);

private:
    struct PendingEntry {
        std::int64_t id;
        std::int64_t key;
        JournalEntry entry;
    };
    struct PendingLine {
        std::int64_t seq;
        std::int64_t passingId;
        std::string text;
    };

    bool OpenFile(const std::string& path, std::string& error);
    bool KeepDamagedFileAside(std::string& error);
    bool EndReadTransaction();
    bool PrepareStatements(std::string& error);
    void ReadNextIds();
    bool WritePending(std::string& error);
    void ReleasePending();
    bool StoredContains(std::int64_t key, std::string_view source, std::string_view record);

    SqliteDatabase database_;
    std::string path_;
    std::string openError_ = "not opened";
    std::string keptAside_;
    bool inTransaction_ = false;
    bool damaged_ = false;
    SqliteStatement insertPassing_;
    SqliteStatement insertLine_;
    SqliteStatement markSent_;
    SqliteStatement findRecord_;

    std::int64_t nextPassingId_ = 1;
    std::int64_t nextSeq_ = 1;
    std::int64_t committedSeq_ = 0;
    std::vector<PendingEntry> pendingEntries_;
    std::vector<PendingLine> pendingLines_;
    std::unordered_multimap<std::int64_t, std::size_t> pendingKeys_;  // key -> pendingEntries_
    std::int64_t pendingSentSeq_ = 0;
    std::int64_t pendingSentMs_ = 0;
    std::size_t commits_ = 0;
};

}  // namespace torvane
