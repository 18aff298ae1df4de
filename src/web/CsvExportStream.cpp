#include "web/CsvExportStream.h"

#include <sqlite3.h>

#include <cstring>
#include <ctime>
#include <string_view>

#include "journal/JournalExport.h"

namespace torvane {
namespace {

constexpr std::size_t kChunk = 16 * 1024;

std::string_view Column(sqlite3_stmt* row, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    return text ? std::string_view(text, sqlite3_column_bytes(row, column)) : std::string_view();
}

}  // namespace

CsvExportStream::~CsvExportStream() {
    sqlite3_finalize(query_);
    if (db_) sqlite3_close(db_);
}

bool CsvExportStream::Start(const std::string& path, std::string& error) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK ||
        sqlite3_prepare_v2(db_,
                           "SELECT p.received_ms, p.utc_offset, p.source, p.record, p.chip, p.bib, "
                           "p.race_time, (SELECT MIN(sent_ms) FROM host_line h WHERE "
                           "h.passing_id = p.id) FROM passing p ORDER BY p.id",
                           -1, &query_, nullptr) != SQLITE_OK) {
        error = db_ ? sqlite3_errmsg(db_) : "out of memory";
        return false;
    }
    sqlite3_busy_timeout(db_, 50);
    pending_ = kExportHeader;
    return open(QIODevice::ReadOnly);
}

void CsvExportStream::Produce(std::size_t atLeast) {
    while (!done_ && pending_.size() < atLeast) {
        const int step = sqlite3_step(query_);
        if (step != SQLITE_ROW) {
            // An error mid-way ends the file there; the client sees a short file, not a stall.
            done_ = true;
            break;
        }
        const bool sent = sqlite3_column_type(query_, 7) != SQLITE_NULL;
        const std::int64_t sentUtcMs = sent ? sqlite3_column_int64(query_, 7) : 0;
        AppendExportRow(pending_, sqlite3_column_int64(query_, 0), sqlite3_column_int64(query_, 1),
                        {Column(query_, 2), Column(query_, 3), Column(query_, 4), Column(query_, 5),
                         Column(query_, 6)},
                        sent ? &sentUtcMs : nullptr);
    }
}

qint64 CsvExportStream::bytesAvailable() const {
    // Rows are made on demand: while the query runs there is always more to read.
    return static_cast<qint64>(pending_.size()) + (done_ ? 0 : kChunk) +
           QIODevice::bytesAvailable();
}

qint64 CsvExportStream::readData(char* data, qint64 maxSize) {
    Produce(std::min<std::size_t>(static_cast<std::size_t>(maxSize), kChunk));
    if (pending_.empty()) return done_ ? -1 : 0;
    const std::size_t count = std::min<std::size_t>(pending_.size(), maxSize);
    std::memcpy(data, pending_.data(), count);
    pending_.erase(0, count);
    return static_cast<qint64>(count);
}

}  // namespace torvane
