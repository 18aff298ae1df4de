#include "journal/Journal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/Texts.h"

namespace torvane {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS passing(
    id INTEGER PRIMARY KEY,
    kind INTEGER NOT NULL,
    source TEXT NOT NULL,
    record TEXT NOT NULL,
    token TEXT NOT NULL,
    received_ms INTEGER NOT NULL,
    utc_offset INTEGER NOT NULL,
    chip TEXT NOT NULL,
    bib TEXT NOT NULL,
    race_time TEXT NOT NULL,
    box_date TEXT NOT NULL,
    record_key INTEGER NOT NULL,
    time_key TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS host_line(
    seq INTEGER PRIMARY KEY,
    passing_id INTEGER NOT NULL,
    line TEXT NOT NULL,
    sent_ms INTEGER);
CREATE INDEX IF NOT EXISTS host_line_waiting ON host_line(seq) WHERE sent_ms IS NULL;
CREATE INDEX IF NOT EXISTS host_line_by_passing ON host_line(passing_id);
)sql";

// Records are looked up by the time of day they carry first, so that the index grows at its end
// as a race goes on: an index in random order would have every commit rewrite pages all over
// the file.
constexpr const char* kRecordIndex =
    "CREATE INDEX IF NOT EXISTS passing_by_record ON passing(time_key, record_key) "
    "WHERE kind != 2";

// "YYYY-MM-DD HH:MM:SS.mmm" of an instant, shifted by the given offset from UTC.
std::string TimeText(std::int64_t utcMs, std::int64_t offsetSeconds) {
    const std::time_t seconds =
        static_cast<std::time_t>((utcMs >= 0 ? utcMs : utcMs - 999) / 1000 + offsetSeconds);
    std::tm tm{};
    if (!gmtime_r(&seconds, &tm)) return {};
    const int ms = static_cast<int>(((utcMs % 1000) + 1000) % 1000);
    return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
}

std::int64_t LocalOffsetAt(std::int64_t utcMs) {
    const std::time_t seconds = static_cast<std::time_t>(utcMs / 1000);
    std::tm tm{};
    return localtime_r(&seconds, &tm) ? tm.tm_gmtoff : 0;
}

// A CSV field as spreadsheets read it: quoted when it holds a separator, a quote or a line end.
void AppendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(field);
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

std::string_view RecordTimeKey(std::string_view record) {
    // A record of key=value pairs: the value of its "t=" pair.
    for (std::size_t at = 0; at <= record.size();) {
        std::size_t end = record.find('|', at);
        if (end == std::string_view::npos) end = record.size();
        const std::string_view pair = record.substr(at, end - at);
        if (pair.substr(0, 2) == "t=") return pair.substr(2);
        at = end + 1;
    }
    // A fixed-width record: its time field.
    constexpr std::size_t kTimeAt = 7, kTimeWidth = 12;
    if (record.size() >= kTimeAt + kTimeWidth) return record.substr(kTimeAt, kTimeWidth);
    return {};
}

std::int64_t RecordKey(std::string_view source, std::string_view record) {
    // FNV-1a over the source, a separator no name holds, and the record.
    std::uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](std::string_view bytes) {
        for (unsigned char c : bytes) {
            hash ^= c;
            hash *= 1099511628211ull;
        }
    };
    mix(source);
    mix(std::string_view("\x1f", 1));
    mix(record);
    return static_cast<std::int64_t>(hash);
}

bool Journal::Open(const std::string& path, std::string& error) {
    path_ = path;
    // Normal locking, so that the web page reads the journal through a connection of its own
    // (in WAL mode a reader never waits for this writer, nor this writer for a reader).
    if (!database_.Open(path, error) ||
        !database_.Execute("PRAGMA journal_mode=WAL; "
                           "PRAGMA synchronous=FULL;",
                           error) ||
        !CreateSchema(error) || !PrepareStatements(error)) {
        database_.Close();
        openError_ = error;
        return false;
    }
    openError_.clear();
    ReadNextIds();
    return true;
}

bool Journal::CreateSchema(std::string& error) {
    return database_.Execute(kSchema, error) && AddTimeKeys(error) &&
           database_.Execute(kRecordIndex, error);
}

// A journal written before records were indexed by their time gets the column, filled in.
bool Journal::AddTimeKeys(std::string& error) {
    SqliteStatement columns;
    if (!columns.Prepare(database_,
                         "SELECT 1 FROM pragma_table_info('passing') "
                         "WHERE name = 'time_key'",
                         error)) {
        return false;
    }
    if (columns.Step()) return true;
    if (!database_.Execute("BEGIN; ALTER TABLE passing ADD COLUMN time_key TEXT NOT NULL "
                           "DEFAULT ''",
                           error)) {
        return false;
    }
    SqliteStatement records, update;
    bool done =
        records.Prepare(database_, "SELECT id, record FROM passing WHERE kind != 2", error) &&
        update.Prepare(database_, "UPDATE passing SET time_key = ?2 WHERE id = ?1", error);
    while (done && records.Step()) {
        const std::string record(records.Text(1));
        update.Reset();
        update.Bind(1, records.Int(0));
        update.Bind(2, RecordTimeKey(record));
        update.Step();
        done = !update.Failed();
        update.Reset();
    }
    if (done && records.Failed()) done = false;
    if (!done && error.empty()) error = database_.LastError();
    std::string ignored;
    if (!done || !database_.Execute("COMMIT", error)) {
        database_.Execute("ROLLBACK", ignored);
        return false;
    }
    return true;
}

bool Journal::PrepareStatements(std::string& error) {
    return insertPassing_.Prepare(database_,
                                  "INSERT INTO passing(id, kind, source, record, token, "
                                  "received_ms, utc_offset, chip, bib, race_time, box_date, "
                                  "record_key, time_key) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?)",
                                  error) &&
           insertLine_.Prepare(
               database_, "INSERT INTO host_line(seq, passing_id, line) VALUES(?,?,?)", error) &&
           markSent_.Prepare(
               database_, "UPDATE host_line SET sent_ms = ?1 WHERE sent_ms IS NULL AND seq <= ?2",
               error) &&
           findRecord_.Prepare(database_,
                               "SELECT source, record FROM passing WHERE time_key = ?1 AND "
                               "record_key = ?2 AND kind != 2",
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
        nextPassingId_ = query.Int(0) + 1;
        nextSeq_ = query.Int(1) + 1;
    }
}

bool Journal::StoredContains(std::int64_t key, std::string_view source, std::string_view record) {
    if (!IsOpen()) return false;
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
        if (entry.source == source && entry.record == record) return true;
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

bool Journal::Commit(std::string& error) {
    if (!HasPending()) return true;
    if (!IsOpen()) {
        error = openError_;
        return false;
    }
    if (!database_.Execute("BEGIN", error)) return false;
    if (!WritePending(error) || !database_.Execute("COMMIT", error)) {
        std::string ignored;
        database_.Execute("ROLLBACK", ignored);
        return false;
    }
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

std::vector<WaitingHostLine> Journal::WaitingLines(std::string& error) {
    std::vector<WaitingHostLine> lines;
    if (!IsOpen()) return lines;
    SqliteStatement query;
    if (!query.Prepare(database_,
                       "SELECT seq, line FROM host_line WHERE sent_ms IS NULL ORDER BY seq",
                       error)) {
        return lines;
    }
    while (query.Step()) lines.push_back({query.Int(0), query.Text(1)});
    if (query.Failed()) error = database_.LastError();
    return lines;
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

bool Journal::ExportCsv(const std::string& path, std::size_t& rows, std::string& error) {
    rows = 0;
    if (!IsOpen()) {
        error = openError_;
        return false;
    }
    SqliteStatement query;
    if (!query.Prepare(database_,
                       "SELECT p.received_ms, p.utc_offset, p.source, p.record, p.chip, p.bib, "
                       "p.race_time, s.sent FROM passing p LEFT JOIN (SELECT passing_id, "
                       "MIN(sent_ms) AS sent FROM host_line GROUP BY passing_id) s ON "
                       "s.passing_id = p.id ORDER BY p.id",
                       error)) {
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    std::string text = "received,source,record,chip,bib,race_time,sent\r\n";
    while (query.Step()) {
        AppendCsvField(text, TimeText(query.Int(0), query.Int(1)));
        for (int column = 2; column <= 6; ++column) {
            text += ',';
            AppendCsvField(text, query.Text(column));
        }
        text += ',';
        if (!query.IsNull(7)) {
            const std::int64_t sent = query.Int(7);
            AppendCsvField(text, TimeText(sent, LocalOffsetAt(sent)));
        }
        text += "\r\n";
        ++rows;
    }
    const bool written = !query.Failed() &&
                         std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                         std::fflush(file) == 0;
    if (!written) error = query.Failed() ? database_.LastError() : std::strerror(errno);
    return std::fclose(file) == 0 && written;
}

}  // namespace torvane
