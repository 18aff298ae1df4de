#include "journal/Journal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sqlite3.h>

#include "base/Clock.h"
#include "base/Texts.h"
#include "journal/JournalSchema.h"

namespace torvane {
namespace {

bool IsDamage(int code) {
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

// Whether the batch holds this record, forwarded.
bool Forwarded(const JournalBatch& batch,
               const std::unordered_multimap<std::int64_t, std::size_t>& keys, std::int64_t key,
               std::string_view source, std::string_view record) {
    const auto [first, last] = keys.equal_range(key);
    for (auto it = first; it != last; ++it) {
        const JournalEntry& entry = batch.entries[it->second].entry;
        if (entry.source == source && entry.record == record && !entry.raceTime.empty()) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool Journal::Open(const std::string& path, std::string& error) {
    Close();
    path_ = path;
    keptAside_.clear();
    bool opened = OpenFile(path, error);
    if (!opened && damaged_) {
        Close();
        opened = KeepDamagedFileAside(error) && OpenFile(path, error);
    }
    if (!opened) {
        Close();
        openError_ = error;
        return false;
    }
    if (!RecordNotedMarks(error)) {
        Close();
        openError_ = error;
        return false;
    }
    openError_.clear();
    ReadNextIds();
    return true;
}

// The lines a run before this one sent while it could not write the journal are sent already.
bool Journal::RecordNotedMarks(std::string& error) {
    if (!sentNote_.Open(path_ + SentMarkFile::kSuffix)) {
        error = Format("%s%s: %s", path_.c_str(), SentMarkFile::kSuffix, std::strerror(errno));
        return false;
    }
    if (sentNote_.Seq() == 0) return true;
    const std::int64_t seq = sentNote_.Seq(), sentMs = sentNote_.SentMs();
    return writer_.Run(
               [&](SqliteDatabase& database, std::string& failure) {
                   SqliteStatement mark;
                   if (!mark.Prepare(database,
                                     "UPDATE host_line SET sent_ms = ?1 WHERE sent_ms IS NULL "
                                     "AND seq <= ?2",
                                     failure)) {
                       return false;
                   }
                   mark.Bind(1, sentMs);
                   mark.Bind(2, seq);
                   mark.Step();
                   if (mark.Failed()) failure = database.LastError();
                   return !mark.Failed();
               },
               error) &&
           sentNote_.Clear();
}

// The writer opens first: it makes the file, its WAL and its layout; then the look-ups' own
// connection.
bool Journal::OpenFile(const std::string& path, std::string& error) {
    int code = 0;
    if (!writer_.Open(path, error, code)) {
        damaged_ = IsDamage(code);
        return false;
    }
    if (!database_.Open(path, error)) return false;
    database_.SetBusyTimeout(kBusyTimeoutMs);
    return findRecord_.Prepare(database_,
                               "SELECT source, record FROM passing WHERE time_key = ?1 AND "
                               "record_key = ?2 AND kind != 2 AND race_time != ''",
                               error);
}

// The damaged file and what SQLite kept beside it go to one name that says when; the next
// opening starts a new journal.
bool Journal::KeepDamagedFileAside(std::string& error) {
    const std::string aside =
        path_ + ".damaged-" + clock::LocalTimeText(clock::NowMs(), "%Y%m%d-%H%M%S");
    if (std::rename(path_.c_str(), aside.c_str()) != 0) {
        error = Format("%s: %s", aside.c_str(), std::strerror(errno));
        return false;
    }
    for (const char* suffix : {"-wal", "-shm", SentMarkFile::kSuffix}) {
        std::rename((path_ + suffix).c_str(), (aside + suffix).c_str());
    }
    keptAside_ = aside;
    return true;
}

void Journal::Close() {
    bool ok = false;
    std::string error;
    WaitForCommit(ok, error);
    EndLookups();
    writer_.Close();
    findRecord_.Finalize();
    database_.Close();
    sentNote_.Close();
    failing_ = false;
    openError_ = "closed";
}

void Journal::ReadNextIds() {
    std::string error;
    SqliteStatement query;
    if (query.Prepare(database_,
                      "SELECT (SELECT IFNULL(MAX(id), 0) FROM passing), "
                      "(SELECT IFNULL(MAX(seq), 0) FROM host_line)",
                      error) &&
        query.Step()) {
        // Numbers never go back, even when a new file replaces a damaged one.
        nextPassingId_ = std::max(nextPassingId_, query.Int(0) + 1);
        nextSeq_ = std::max(nextSeq_, query.Int(1) + 1);
        committedSeq_ = query.Int(1);
    }
}

bool Journal::StoredContains(std::int64_t key, std::string_view source, std::string_view record) {
    if (!IsOpen()) return false;
    // The look-ups of a burst share one read transaction: one lock taken, not one per look-up.
    if (!inTransaction_) {
        std::string ignored;
        inTransaction_ = database_.Execute("BEGIN", ignored);
    }
    findRecord_.Reset();
    findRecord_.Bind(1, RecordTimeKey(record));
    findRecord_.Bind(2, key);
    bool found = false;
    while (!found && findRecord_.Step()) {
        found = findRecord_.Text(0) == source && findRecord_.Text(1) == record;
    }
    findRecord_.Reset();
    return found;
}

bool Journal::Contains(std::string_view source, std::string_view record) {
    const std::int64_t key = RecordKey(source, record);
    return Forwarded(pending_, pendingKeys_, key, source, record) ||
           Forwarded(inFlight_, inFlightKeys_, key, source, record) ||
           StoredContains(key, source, record);
}

void Journal::EndLookups() {
    if (!inTransaction_) return;
    inTransaction_ = false;
    std::string ignored;
    database_.Execute("COMMIT", ignored);
}

std::int64_t Journal::Add(JournalEntry entry) {
    const std::int64_t id = nextPassingId_++;
    const std::int64_t key = RecordKey(entry.source, entry.record);
    if (entry.kind != PassingKind::Manual) pendingKeys_.emplace(key, pending_.entries.size());
    pending_.entries.push_back({id, key, std::move(entry)});
    return id;
}

std::int64_t Journal::AddHostLine(std::int64_t passingId, std::string line, std::string asBib) {
    const std::int64_t seq = nextSeq_++;
    pending_.lines.push_back({seq, passingId, std::move(line), std::move(asBib)});
    return seq;
}

void Journal::SetDetection(std::int64_t passingId, std::string bib, std::string raceTime) {
    pending_.detections.push_back({passingId, std::move(bib), std::move(raceTime)});
}

void Journal::MarkSent(std::int64_t seq, std::int64_t utcMs) {
    if (seq <= pending_.sentSeq) return;
    pending_.sentSeq = seq;
    pending_.sentMs = utcMs;
    // While the journal cannot take the mark, the note keeps it against a crash.
    if (failing_) sentNote_.Note(seq, utcMs);
}

void Journal::SetCommitFinishedNotice(std::function<void()> notice) {
    writer_.SetFinishedNotice(std::move(notice));
}

bool Journal::StartCommit() {
    if (!IsOpen() || CommitInFlight() || !HasPending()) return false;
    // Look-ups after this see the commit's rows once it is done, or find them in flight.
    EndLookups();
    inFlight_ = std::move(pending_);
    inFlightKeys_ = std::move(pendingKeys_);
    pending_ = JournalBatch();
    pendingKeys_ = KeyIndex();
    writer_.Start(inFlight_);
    return true;
}

bool Journal::TakeCommitOutcome(bool& ok, std::string& error) {
    JournalWriter::Outcome outcome;
    if (!writer_.TakeOutcome(outcome)) return false;
    Finished(ok = outcome.ok, outcome);
    error = outcome.error;
    return true;
}

bool Journal::WaitForCommit(bool& ok, std::string& error) {
    if (!CommitInFlight()) return false;
    const JournalWriter::Outcome outcome = writer_.Wait();
    Finished(ok = outcome.ok, outcome);
    error = outcome.error;
    return true;
}

void Journal::Finished(bool ok, const JournalWriter::Outcome& outcome) {
    // A snapshot taken before the commit ended would not show its rows.
    EndLookups();
    if (ok) {
        if (failing_) failing_ = !sentNote_.Clear();
        if (!inFlight_.lines.empty()) committedSeq_ = inFlight_.lines.back().seq;
        ++commits_;
        inFlight_.Clear();
        inFlightKeys_.clear();
        return;
    }
    damaged_ = IsDamage(outcome.code);
    failing_ = true;
    const std::int64_t sentSeq = std::max(inFlight_.sentSeq, pending_.sentSeq);
    if (sentSeq > 0) {
        sentNote_.Note(sentSeq, std::max(inFlight_.sentMs, pending_.sentMs));
    }
    // The batch goes back ahead of what gathered since; its keys follow it.
    inFlight_.Append(std::move(pending_));
    pending_ = std::move(inFlight_);
    inFlight_ = JournalBatch();
    inFlightKeys_.clear();
    pendingKeys_.clear();
    for (std::size_t i = 0; i < pending_.entries.size(); ++i) {
        if (pending_.entries[i].entry.kind != PassingKind::Manual) {
            pendingKeys_.emplace(pending_.entries[i].key, i);
        }
    }
}

bool Journal::Commit(std::string& error) {
    bool ok = true;
    if (WaitForCommit(ok, error) && !ok) return false;
    if (!HasPending()) {
        EndLookups();
        return true;
    }
    if (!IsOpen()) {
        error = openError_;
        return false;
    }
    StartCommit();
    WaitForCommit(ok, error);
    return ok;
}

std::size_t Journal::WaitingLineCount(std::string& error) {
    SqliteStatement query;
    if (!IsOpen() ||
        !query.Prepare(database_, "SELECT COUNT(*) FROM host_line WHERE sent_ms IS NULL", error)) {
        return 0;
    }
    const std::size_t count = query.Step() ? static_cast<std::size_t>(query.Int(0)) : 0;
    if (query.Failed()) error = database_.LastError();
    return count;
}

std::vector<WaitingHostLine> Journal::WaitingLinesFrom(std::int64_t fromSeq, std::size_t limit,
                                                       std::string& error) {
    std::vector<WaitingHostLine> lines;
    SqliteStatement query;
    if (!IsOpen() || !query.Prepare(database_,
                                    "SELECT seq, line FROM host_line WHERE sent_ms IS NULL AND "
                                    "seq >= ?1 ORDER BY seq LIMIT ?2",
                                    error)) {
        return lines;
    }
    query.Bind(1, fromSeq);
    query.Bind(2, static_cast<std::int64_t>(limit));
    while (query.Step()) lines.push_back({query.Int(0), query.Text(1)});
    if (query.Failed()) error = database_.LastError();
    return lines;
}

// Lines are marked sent in the order of their numbers, so those marked since a moment are the
// end of the sent ones: found from the end of the table, without an index on the sent time.
std::size_t Journal::UnmarkSentSince(std::int64_t sinceUtcMs, std::int64_t& firstSeq,
                                     std::string& error) {
    if (!IsOpen() || HasPending() || CommitInFlight()) return 0;
    std::size_t count = 0;
    EndLookups();
    writer_.Run(
        [&](SqliteDatabase& database, std::string& failure) {
            SqliteStatement before, unmark;
            if (!before.Prepare(database,
                                "SELECT seq FROM host_line WHERE sent_ms IS NOT NULL AND "
                                "sent_ms < ?1 ORDER BY seq DESC LIMIT 1",
                                failure) ||
                !unmark.Prepare(database,
                                "UPDATE host_line SET sent_ms = NULL WHERE seq > ?1 AND "
                                "sent_ms IS NOT NULL",
                                failure)) {
                return false;
            }
            before.Bind(1, sinceUtcMs);
            const std::int64_t last = before.Step() ? before.Int(0) : 0;
            unmark.Bind(1, last);
            unmark.Step();
            if (before.Failed() || unmark.Failed()) {
                failure = database.LastError();
                return false;
            }
            firstSeq = last + 1;
            count = static_cast<std::size_t>(database.Changes());
            return true;
        },
        error);
    return count;
}

std::vector<ForwardedDetection> Journal::ForwardedBetween(std::int64_t fromUtcMs,
                                                          std::int64_t toUtcMs,
                                                          std::string& error) {
    std::vector<ForwardedDetection> found;
    if (!IsOpen()) {
        error = openError_;
        return found;
    }
    SqliteStatement query;
    if (!query.Prepare(database_,
                       "SELECT p.id, h.line, MIN(h.seq) FROM passing p JOIN host_line h ON "
                       "h.passing_id = p.id WHERE p.received_ms BETWEEN ?1 AND ?2 "
                       "GROUP BY p.id ORDER BY p.id",
                       error)) {
        return found;
    }
    query.Bind(1, fromUtcMs);
    query.Bind(2, toUtcMs);
    while (query.Step()) found.push_back({query.Int(0), query.Text(1)});
    if (query.Failed()) error = database_.LastError();
    return found;
}

}  // namespace torvane
