#include "journal/JournalExport.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "base/Clock.h"
#include "base/Texts.h"

namespace torvane {
namespace {

constexpr int kBusyMs = 5000;
constexpr std::size_t kCsvChunkBytes = 256 * 1024;

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
    return clock::UtcOffsetSeconds(utcMs / 1000);
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

void AppendCsvRow(std::string& out, const SqliteStatement& row) {
    const std::string texts[5] = {row.Text(2), row.Text(3), row.Text(4), row.Text(5), row.Text(6)};
    const std::int64_t sent = row.IsNull(7) ? 0 : row.Int(7);
    AppendExportRow(out, row.Int(0), row.Int(1), {texts[0], texts[1], texts[2], texts[3], texts[4]},
                    row.IsNull(7) ? nullptr : &sent);
}

bool Cancelled(const std::atomic<bool>* cancelled) {
    return cancelled && cancelled->load();
}

// The text of the last system error, or `fallback` when there was none.
std::string SystemError(const char* fallback) {
    return errno != 0 ? std::strerror(errno) : fallback;
}

bool WriteChunk(std::FILE* file, std::string& text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    text.clear();
    return written;
}

}  // namespace

void AppendExportRow(std::string& out, std::int64_t receivedUtcMs, std::int64_t utcOffsetSeconds,
                     const std::array<std::string_view, 5>& fields, const std::int64_t* sentUtcMs) {
    AppendCsvField(out, TimeText(receivedUtcMs, utcOffsetSeconds));
    for (std::string_view field : fields) {
        out += ',';
        AppendCsvField(out, field);
    }
    out += ',';
    if (sentUtcMs) AppendCsvField(out, TimeText(*sentUtcMs, LocalOffsetAt(*sentUtcMs)));
    out += "\r\n";
}

JournalReadResult ExportJournalCsv(const std::string& journalPath, const std::string& csvPath,
                                   const std::atomic<bool>* cancelled) {
    JournalReadResult result;
    SqliteDatabase database;
    SqliteStatement query;
    if (!database.OpenReadOnly(journalPath, kBusyMs, result.error) ||
        !query.Prepare(database,
                       "SELECT p.received_ms, p.utc_offset, p.source, p.record, p.chip, p.bib, "
                       "p.race_time, s.sent FROM passing p LEFT JOIN (SELECT passing_id, "
                       "MIN(sent_ms) AS sent FROM host_line GROUP BY passing_id) s ON "
                       "s.passing_id = p.id ORDER BY p.id",
                       result.error)) {
        return result;
    }
    std::FILE* file = std::fopen(csvPath.c_str(), "wb");
    if (!file) {
        result.error = SystemError("cannot be created");
        return result;
    }
    std::string text = kExportHeader;
    text.reserve(kCsvChunkBytes + 4096);
    bool written = true;
    while (written && !Cancelled(cancelled) && query.Step()) {
        AppendCsvRow(text, query);
        ++result.rows;
        if (text.size() >= kCsvChunkBytes) written = WriteChunk(file, text);
    }
    errno = 0;
    written = written && WriteChunk(file, text) && std::fflush(file) == 0;
    if (query.Failed()) {
        result.error = database.LastError();
    } else if (!written) {
        result.error = SystemError("write failed");
    } else if (Cancelled(cancelled)) {
        result.error = "stopped";
    }
    const bool closed = std::fclose(file) == 0;
    if (result.error.empty() && !closed) result.error = SystemError("close failed");
    result.done = result.error.empty();
    return result;
}

namespace {

// Rows of the export from ids [?1, ?2].
constexpr const char* kExportRowsSql =
    "SELECT p.received_ms, p.utc_offset, p.source, p.record, p.chip, p.bib, p.race_time, "
    "(SELECT MIN(h.sent_ms) FROM host_line h WHERE h.passing_id = p.id) FROM passing p "
    "WHERE p.id BETWEEN ?1 AND ?2 ORDER BY p.id";

// Appends the rows of ids [first, last] to `text`, writing it out a chunk at a time.
bool AppendIdRange(SqliteStatement& query, std::int64_t first, std::int64_t last, std::FILE* file,
                   std::string& text, JournalReadResult& result,
                   std::atomic<std::size_t>* written) {
    query.Reset();
    query.Bind(1, first);
    query.Bind(2, last);
    bool ok = true;
    while (ok && query.Step()) {
        AppendCsvRow(text, query);
        ++result.rows;
        if (written) written->store(result.rows);
        if (text.size() >= kCsvChunkBytes) ok = WriteChunk(file, text);
    }
    return ok && !query.Failed();
}

}  // namespace

JournalReadResult ExportJournalRowsCsv(const std::string& journalPath, const JournalKeys& keys,
                                       const std::string& csvPath,
                                       std::atomic<std::size_t>* written,
                                       const std::atomic<bool>* cancelled) {
    JournalReadResult result;
    SqliteDatabase database;
    SqliteStatement query;
    if (!database.OpenReadOnly(journalPath, kBusyMs, result.error) ||
        !query.Prepare(database, kExportRowsSql, result.error)) {
        return result;
    }
    std::FILE* file = std::fopen(csvPath.c_str(), "wb");
    if (!file) {
        result.error = SystemError("cannot be created");
        return result;
    }
    std::string text = kExportHeader;
    errno = 0;
    bool ok = true;
    if (!keys.isList) {
        // A whole range is one statement; the cancel is looked at between chunks of ids.
        constexpr std::int64_t kIdsPerStep = 10000;
        for (std::int64_t id = keys.first; ok && id <= keys.last && !Cancelled(cancelled);
             id += kIdsPerStep) {
            ok = AppendIdRange(query, id, std::min(keys.last, id + kIdsPerStep - 1), file, text,
                               result, written);
        }
    } else {
        for (std::size_t i = 0; ok && i < keys.ids.size() && !Cancelled(cancelled); ++i) {
            ok = AppendIdRange(query, keys.ids[i], keys.ids[i], file, text, result, written);
        }
    }
    const bool flushed = ok && WriteChunk(file, text) && std::fflush(file) == 0;
    if (query.Failed()) {
        result.error = database.LastError();
    } else if (!flushed) {
        result.error = SystemError("write failed");
    } else if (Cancelled(cancelled)) {
        result.error = "stopped";
    }
    const bool closed = std::fclose(file) == 0;
    if (result.error.empty() && !closed) result.error = SystemError("close failed");
    result.done = result.error.empty();
    return result;
}

JournalReadResult ReadForwardedSpan(
    const std::string& journalPath, std::int64_t fromUtcMs, std::int64_t toUtcMs,
    std::size_t chunkRows, const std::function<bool(std::vector<ForwardedDetection>)>& onChunk,
    const std::atomic<bool>* cancelled) {
    JournalReadResult result;
    SqliteDatabase database;
    SqliteStatement query;
    if (!database.OpenReadOnly(journalPath, kBusyMs, result.error) ||
        !query.Prepare(database,
                       "SELECT p.id, h.line, MIN(h.seq) FROM passing p JOIN host_line h ON "
                       "h.passing_id = p.id WHERE p.received_ms BETWEEN ?1 AND ?2 "
                       "GROUP BY p.id ORDER BY p.id",
                       result.error)) {
        return result;
    }
    query.Bind(1, fromUtcMs);
    query.Bind(2, toUtcMs);
    std::vector<ForwardedDetection> chunk;
    bool going = true;
    while (going && !Cancelled(cancelled) && query.Step()) {
        chunk.push_back({query.Int(0), query.Text(1)});
        ++result.rows;
        if (chunk.size() >= chunkRows) going = onChunk(std::exchange(chunk, {}));
    }
    if (query.Failed()) {
        result.error = database.LastError();
    } else if (!going || Cancelled(cancelled)) {
        result.error = "stopped";
    } else if (!chunk.empty() && !onChunk(std::move(chunk))) {
        result.error = "stopped";
    }
    result.done = result.error.empty();
    return result;
}

namespace {

// One row per chosen passing, read with `sql` (its id bound as ?1, then `bindMore`) and handed
// on in chunks; ids without a row are skipped.
template <typename Row>
JournalReadResult ReadByIds(const std::string& journalPath, const char* sql,
                            const std::vector<std::int64_t>& ids, std::size_t chunkRows,
                            const std::function<bool(std::vector<Row>)>& onChunk,
                            const std::atomic<bool>* cancelled,
                            const std::function<void(SqliteStatement&)>& bindMore,
                            const std::function<Row(std::int64_t, const SqliteStatement&)>& row) {
    JournalReadResult result;
    SqliteDatabase database;
    SqliteStatement query;
    if (!database.OpenReadOnly(journalPath, kBusyMs, result.error) ||
        !query.Prepare(database, sql, result.error)) {
        return result;
    }
    std::vector<Row> chunk;
    bool going = true;
    for (std::size_t i = 0; going && i < ids.size() && !Cancelled(cancelled); ++i) {
        query.Reset();
        query.Bind(1, ids[i]);
        bindMore(query);
        if (query.Step()) {
            chunk.push_back(row(ids[i], query));
            ++result.rows;
        }
        if (query.Failed()) break;
        if (chunk.size() >= chunkRows) going = onChunk(std::exchange(chunk, {}));
    }
    if (query.Failed()) {
        result.error = database.LastError();
    } else if (!going || Cancelled(cancelled) || (!chunk.empty() && !onChunk(std::move(chunk)))) {
        result.error = "stopped";
    }
    result.done = result.error.empty();
    return result;
}

}  // namespace

JournalReadResult ReadForwardedPassings(
    const std::string& journalPath, const std::vector<std::int64_t>& ids, std::size_t chunkRows,
    const std::function<bool(std::vector<ForwardedDetection>)>& onChunk,
    const std::atomic<bool>* cancelled) {
    return ReadByIds<ForwardedDetection>(
        journalPath, "SELECT line FROM host_line WHERE passing_id = ?1 ORDER BY seq LIMIT 1", ids,
        chunkRows, onChunk, cancelled, [](SqliteStatement&) {},
        [](std::int64_t id, const SqliteStatement& query) {
            return ForwardedDetection{id, query.Text(0)};
        });
}

JournalReadResult ReadHeldPassings(const std::string& journalPath,
                                   const std::vector<std::int64_t>& ids, std::size_t chunkRows,
                                   const std::function<bool(std::vector<HeldPassing>)>& onChunk,
                                   const std::atomic<bool>* cancelled) {
    return ReadByIds<HeldPassing>(
        journalPath,
        "SELECT kind, source, record, chip, box_date, received_ms FROM passing p "
        "WHERE id = ?1 AND reason = ?2 AND NOT EXISTS(SELECT 1 FROM host_line h "
        "WHERE h.passing_id = p.id)",
        ids, chunkRows, onChunk, cancelled,
        [](SqliteStatement& query) { query.Bind(2, std::string_view(not_forwarded::kFlowClosed)); },
        [](std::int64_t id, const SqliteStatement& query) {
            return HeldPassing{id,
                               static_cast<PassingKind>(query.Int(0)),
                               query.Text(1),
                               query.Text(2),
                               query.Text(3),
                               query.Text(4),
                               query.Int(5)};
        });
}

JournalReadResult ReadUnknownChipDetections(const std::string& journalPath,
                                            std::vector<UnknownChipDetection>& detections) {
    JournalReadResult result;
    SqliteDatabase database;
    SqliteStatement query;
    // Their few rows are found through an index of their own.
    if (!database.OpenReadOnly(journalPath, kBusyMs, result.error) ||
        !query.Prepare(database,
                       "SELECT p.id, p.source, p.chip, p.race_time FROM passing p WHERE "
                       "p.bib = p.chip AND p.race_time != '' AND p.kind != 2 AND EXISTS (SELECT 1 "
                       "FROM host_line h WHERE h.passing_id = p.id) AND NOT EXISTS (SELECT 1 FROM "
                       "host_line h WHERE h.passing_id = p.id AND h.as_bib != '') ORDER BY p.id",
                       result.error)) {
        return result;
    }
    while (query.Step()) {
        detections.push_back({query.Int(0), query.Text(1), query.Text(2), query.Text(3)});
        ++result.rows;
    }
    if (query.Failed()) result.error = database.LastError();
    result.done = result.error.empty();
    return result;
}

JournalReadResult ReadJournalSummary(const std::string& journalPath, JournalSummary& summary) {
    JournalReadResult result;
    SqliteDatabase database;
    SqliteStatement query;
    // Passings are numbered without gaps within one journal: the count needs no scan of them.
    if (!database.OpenReadOnly(journalPath, kBusyMs, result.error) ||
        !query.Prepare(database,
                       "SELECT (SELECT began_ms FROM journal_info), IFNULL(MAX(id) - MIN(id) + 1, "
                       "0), (SELECT received_ms FROM passing ORDER BY id LIMIT 1) FROM passing",
                       result.error)) {
        return result;
    }
    if (query.Step()) {
        summary.beganUtcMs = query.Int(0);
        summary.passings = query.Int(1);
        summary.firstReceivedUtcMs = query.IsNull(2) ? 0 : query.Int(2);
    }
    if (query.Failed()) result.error = database.LastError();
    summary.bytes = 0;
    for (const char* suffix : {"", "-wal"}) {
        struct stat file {};
        if (::stat((journalPath + suffix).c_str(), &file) == 0) summary.bytes += file.st_size;
    }
    result.done = result.error.empty();
    return result;
}

}  // namespace torvane
