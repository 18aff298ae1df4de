#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
// a commit that fails keeps them for the next one. Used on the user-interface thread only.
class Journal {
public:
    static constexpr const char* kFileName = "Torvane-journal.db";

    // Opens (or creates) the file in WAL mode with full synchronous writes; false with the
    // reason. A journal that could not be opened refuses every commit.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return database_.IsOpen(); }
    const std::string& Path() const { return path_; }
    const std::string& OpenError() const { return openError_; }

    // Whether this source's record was journaled already (or waits for the next commit).
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

    // Lines that no earlier run saw reach the host, in order.
    std::vector<WaitingHostLine> WaitingLines(std::string& error);
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

    bool CreateSchema(std::string& error);
    bool PrepareStatements(std::string& error);
    void ReadNextIds();
    bool WritePending(std::string& error);
    void ReleasePending();
    bool AddTimeKeys(std::string& error);
    bool StoredContains(std::int64_t key, std::string_view source, std::string_view record);

    SqliteDatabase database_;
    std::string path_;
    std::string openError_ = "not opened";
    SqliteStatement insertPassing_;
    SqliteStatement insertLine_;
    SqliteStatement markSent_;
    SqliteStatement findRecord_;

    std::int64_t nextPassingId_ = 1;
    std::int64_t nextSeq_ = 1;
    std::vector<PendingEntry> pendingEntries_;
    std::vector<PendingLine> pendingLines_;
    std::unordered_multimap<std::int64_t, std::size_t> pendingKeys_;  // key -> pendingEntries_
    std::int64_t pendingSentSeq_ = 0;
    std::int64_t pendingSentMs_ = 0;
    std::size_t commits_ = 0;
};

// The key under which a source's record is looked up (a 64-bit hash of both).
std::int64_t RecordKey(std::string_view source, std::string_view record);
// The time of day a record carries, as its text (the value of "t=" in a record of key=value
// pairs, else the time field of a fixed-width record); what orders the journal's index of
// records. Empty when the record has neither.
std::string_view RecordTimeKey(std::string_view record);

}  // namespace torvane
