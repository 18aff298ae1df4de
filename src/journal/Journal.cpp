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

}  // namespace

bool Journal::Open(const std::string& path, std::string& error) {
    path_ = path;
    keptAside_.clear();
    bool opened = OpenFile(path, error);
    if (!opened && (damaged_ = IsDamage(database_.LastCode()))) {
        database_.Close();
        opened = KeepDamagedFileAside(error) && OpenFile(path, error);
    }
    if (!opened) {
        database_.Close();
        openError_ = error;
        return false;
    }
    openError_.clear();
    ReadNextIds();
    return true;
}

bool Journal::OpenFile(const std::string& path, std::string& error) {
    if (!database_.Open(path, error)) return false;
    database_.SetBusyTimeout(kBusyTimeoutMs);
    return database_.Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", error) &&
           PrepareJournalLayout(database_, error) && PrepareStatements(error);
}

// The damaged file and what SQLite kept beside it go to one name that says when; the next
// opening starts a new journal.
bool Journal::KeepDamagedFileAside(std::string& error) {
    const std::time_t now = static_cast<std::time_t>(clock::NowMs() / 1000);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string aside = path_ + ".damaged-" + stamp;
    if (std::rename(path_.c_str(), aside.c_str()) != 0) {
        error = Format("%s: %s", aside.c_str(), std::strerror(errno));
        return false;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        std::rename((path_ + suffix).c_str(), (aside + suffix).c_str());
    }
    keptAside_ = aside;
    return true;
}

void Journal::Close() {
    insertPassing_.Finalize();
    insertLine_.Finalize();
    markSent_.Finalize();
    findRecord_.Finalize();
    inTransaction_ = false;
    database_.Close();
    openError_ = "closed";
}

bool Journal::PrepareStatements(std::string& error) {
    return insertPassing_.Prepare(database_,
                                  "INSERT INTO passing(id, kind, source, record, token, "
                                  "received_ms, utc_offset, chip, bib, race_time, box_date, "
                                  "record_key, time_key, reason) "
                                  "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                                  error) &&
           insertLine_.Prepare(
               database_, "INSERT INTO host_line(seq, passing_id, line) VALUES(?,?,?)", error) &&
           markSent_.Prepare(
               database_, "UPDATE host_line SET sent_ms = ?1 WHERE sent_ms IS NULL AND seq <= ?2",
               error) &&
           findRecord_.Prepare(database_,
                               "SELECT source, record FROM passing WHERE time_key = ?1 AND "
                               "record_key = ?2 AND kind != 2 AND race_time != ''",
                               error);
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
    const auto [first, last] = pendingKeys_.equal_range(key);
    for (auto it = first; it != last; ++it) {
        const JournalEntry& entry = pendingEntries_[it->second].entry;
        if (entry.source == source && entry.record == record && !entry.raceTime.empty()) {
            return true;
        }
    }
    return StoredContains(key, source, record);
}

std::int64_t Journal::Add(JournalEntry entry) {
    const std::int64_t id = nextPassingId_++;
    const std::int64_t key = RecordKey(entry.source, entry.record);
    if (entry.kind != PassingKind::Manual) pendingKeys_.emplace(key, pendingEntries_.size());
    pendingEntries_.push_back({id, key, std::move(entry)});
    return id;
}

std::int64_t Journal::AddHostLine(std::int64_t passingId, std::string line) {
    const std::int64_t seq = nextSeq_++;
    pendingLines_.push_back({seq, passingId, std::move(line)});
    return seq;
}

void Journal::MarkSent(std::int64_t seq, std::int64_t utcMs) {
    if (seq <= pendingSentSeq_) return;
    pendingSentSeq_ = seq;
    pendingSentMs_ = utcMs;
}

bool Journal::HasPending() const {
    return !pendingEntries_.empty() || !pendingLines_.empty() || pendingSentSeq_ != 0;
}

bool Journal::WritePending(std::string& error) {
    for (const PendingEntry& pending : pendingEntries_) {
        const JournalEntry& e = pending.entry;
        insertPassing_.Reset();
        insertPassing_.Bind(1, pending.id);
        insertPassing_.Bind(2, static_cast<std::int64_t>(e.kind));
        insertPassing_.Bind(3, e.source);
        insertPassing_.Bind(4, e.record);
        insertPassing_.Bind(5, e.token);
        insertPassing_.Bind(6, e.receivedUtcMs);
        insertPassing_.Bind(7, static_cast<std::int64_t>(e.utcOffsetSeconds));
        insertPassing_.Bind(8, e.chip);
        insertPassing_.Bind(9, e.bib);
        insertPassing_.Bind(10, e.raceTime);
        insertPassing_.Bind(11, e.boxDate);
        insertPassing_.Bind(12, pending.key);
        insertPassing_.Bind(13, RecordTimeKey(e.record));
        insertPassing_.Bind(14, e.reason);
        insertPassing_.Step();
        if (insertPassing_.Failed()) break;
    }
    const bool passingsFailed = insertPassing_.Failed();
    if (passingsFailed) error = database_.LastError();
    insertPassing_.Reset();
    if (passingsFailed) return false;
    for (const PendingLine& line : pendingLines_) {
        insertLine_.Reset();
        insertLine_.Bind(1, line.seq);
        insertLine_.Bind(2, line.passingId);
        insertLine_.Bind(3, line.text);
        insertLine_.Step();
        const bool failed = insertLine_.Failed();
        if (failed) error = database_.LastError();
        insertLine_.Reset();
        if (failed) return false;
    }
    if (pendingSentSeq_ != 0) {
        markSent_.Reset();
        markSent_.Bind(1, pendingSentMs_);
        markSent_.Bind(2, pendingSentSeq_);
        markSent_.Step();
        const bool failed = markSent_.Failed();
        markSent_.Reset();
        if (failed) {
            error = database_.LastError();
            return false;
        }
    }
    return true;
}

bool Journal::EndReadTransaction() {
    if (!inTransaction_) return true;
    inTransaction_ = false;
    std::string ignored;
    return database_.Execute("COMMIT", ignored);
}

bool Journal::Commit(std::string& error) {
    if (!HasPending()) {
        EndReadTransaction();
        return true;
    }
    if (!IsOpen()) {
        error = openError_;
        return false;
    }
    if (!inTransaction_ && !database_.Execute("BEGIN", error)) return false;
    inTransaction_ = false;
    if (!WritePending(error) || !database_.Execute("COMMIT", error)) {
        std::string ignored;
        database_.Execute("ROLLBACK", ignored);
        damaged_ = IsDamage(database_.LastCode());
        return false;
    }
    if (!pendingLines_.empty()) committedSeq_ = pendingLines_.back().seq;
    ReleasePending();
    pendingSentSeq_ = 0;
    pendingSentMs_ = 0;
    ++commits_;
    return true;
}

// A flood leaves large buffers behind: they are given back rather than kept for the next one.
void Journal::ReleasePending() {
    constexpr std::size_t kKept = 1024;
    if (pendingEntries_.capacity() > kKept) {
        std::vector<PendingEntry>().swap(pendingEntries_);
        std::vector<PendingLine>().swap(pendingLines_);
        std::unordered_multimap<std::int64_t, std::size_t>().swap(pendingKeys_);
        return;
    }
    pendingEntries_.clear();
    pendingLines_.clear();
    pendingKeys_.clear();
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
    SqliteStatement before, unmark;
    if (!IsOpen() || HasPending() || !EndReadTransaction() ||
        !before.Prepare(database_,
                        "SELECT seq FROM host_line WHERE sent_ms IS NOT NULL AND sent_ms < ?1 "
                        "ORDER BY seq DESC LIMIT 1",
                        error) ||
        !unmark.Prepare(database_,
                        "UPDATE host_line SET sent_ms = NULL WHERE seq > ?1 AND "
                        "sent_ms IS NOT NULL",
                        error)) {
        return 0;
    }
    before.Bind(1, sinceUtcMs);
    const std::int64_t last = before.Step() ? before.Int(0) : 0;
    unmark.Bind(1, last);
    unmark.Step();
    if (before.Failed() || unmark.Failed()) {
        error = database_.LastError();
        return 0;
    }
    firstSeq = last + 1;
    return static_cast<std::size_t>(database_.Changes());
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
