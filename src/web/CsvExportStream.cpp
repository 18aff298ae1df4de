#include "web/CsvExportStream.h"

#include <sqlite3.h>

#include <cstring>
#include <ctime>
#include <string_view>

#include "base/Texts.h"

namespace torvane {
namespace {

constexpr std::size_t kChunk = 16 * 1024;

// "YYYY-MM-DD HH:MM:SS.mmm" of an instant, shifted by the given offset from UTC.
std::string TimeText(std::int64_t utcMs, std::int64_t offsetSeconds) {
    const std::time_t seconds =
        static_cast<std::time_t>((utcMs >= 0 ? utcMs : utcMs - 999) / 1000 + offsetSeconds);
    std::tm tm{};
    if (!gmtime_r(&seconds, &tm)) return {};
    return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(((utcMs % 1000) + 1000) % 1000));
}

std::int64_t LocalOffsetAt(std::int64_t utcMs) {
    const std::time_t seconds = static_cast<std::time_t>(utcMs / 1000);
    std::tm tm{};
    return localtime_r(&seconds, &tm) ? tm.tm_gmtoff : 0;
}

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
    pending_ = "received,source,record,chip,bib,race_time,sent\r\n";
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
        AppendCsvField(pending_,
                       TimeText(sqlite3_column_int64(query_, 0), sqlite3_column_int64(query_, 1)));
        for (int column = 2; column <= 6; ++column) {
            pending_ += ',';
            AppendCsvField(pending_, Column(query_, column));
        }
        pending_ += ',';
        if (sqlite3_column_type(query_, 7) != SQLITE_NULL) {
            const std::int64_t sent = sqlite3_column_int64(query_, 7);
            AppendCsvField(pending_, TimeText(sent, LocalOffsetAt(sent)));
        }
        pending_ += "\r\n";
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
