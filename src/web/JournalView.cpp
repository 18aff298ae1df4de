#include "web/JournalView.h"

#include <sqlite3.h>

#include <QJsonObject>
#include <algorithm>
#include <ctime>

#include "base/Clock.h"
#include "base/Texts.h"
#include "journal/JournalRows.h"
#include "web/CsvExportStream.h"

namespace torvane {
namespace {

// The state of a detection from its host lines: none, the first still waiting, a later one (a
// replay) waiting, or all of them received by the host.
constexpr const char* kDetectionColumns =
    "SELECT p.id, p.received_ms, p.utc_offset, p.source, p.chip, p.bib, p.race_time, "
    "(SELECT COUNT(*) FROM host_line h WHERE h.passing_id = p.id), "
    "(SELECT h.sent_ms IS NULL FROM host_line h WHERE h.passing_id = p.id ORDER BY h.seq "
    "LIMIT 1), "
    "(SELECT COUNT(*) FROM host_line h WHERE h.passing_id = p.id AND h.sent_ms IS NULL) "
    "FROM passing p ";

QString ColumnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(text ? text : "");
}

QJsonObject DetectionRow(sqlite3_stmt* row) {
    QJsonObject detection;
    detection["seq"] = static_cast<qint64>(sqlite3_column_int64(row, 0));
    detection["received"] = QString::fromStdString(
        IsoLocalTime(sqlite3_column_int64(row, 1), static_cast<int>(sqlite3_column_int64(row, 2))));
    detection["source"] = ColumnText(row, 3);
    const QString chip = ColumnText(row, 4);
    const QString bib = ColumnText(row, 5);
    detection["chip"] = chip;
    // A chip missing from the table is forwarded under its own code: it has no bib.
    detection["bib"] = bib.isEmpty() || bib == chip ? QJsonValue() : QJsonValue(bib);
    detection["race_time"] = ColumnText(row, 6);
    // The page's words for the one state of journal/JournalRows; it tells no reason apart.
    const char* state = "sent";
    switch (StateOfPassing(sqlite3_column_int64(row, 7), sqlite3_column_int64(row, 8) == 0,
                           sqlite3_column_int64(row, 9), std::string())) {
        case PassingState::Sent:
        case PassingState::SentAsBib:
            break;
        case PassingState::Waiting:
            state = "waiting";
            break;
        case PassingState::Resend:
            state = "resend";
            break;
        case PassingState::FlowClosed:
        case PassingState::NotForwarded:
            state = "not_forwarded";
            break;
    }
    detection["state"] = state;
    return detection;
}

}  // namespace

std::string IsoLocalTime(std::int64_t utcMs, int offsetSeconds) {
    const std::time_t seconds =
        static_cast<std::time_t>((utcMs >= 0 ? utcMs : utcMs - 999) / 1000 + offsetSeconds);
    std::tm tm{};
    if (!gmtime_r(&seconds, &tm)) return {};
    const int offsetMinutes = std::abs(offsetSeconds) / 60;
    return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(((utcMs % 1000) + 1000) % 1000), offsetSeconds < 0 ? '-' : '+',
                  offsetMinutes / 60, offsetMinutes % 60);
}

JournalView::~JournalView() {
    if (db_) sqlite3_close(db_);
}

bool JournalView::Open(std::string& error) {
    if (db_) return true;
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        error = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    // A read waits only briefly for a lock: the page asks again at its next update.
    sqlite3_busy_timeout(db_, 50);
    return true;
}

void JournalView::Release() {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

std::int64_t JournalView::NewestSeq() {
    std::string error;
    if (!Open(error)) return 0;
    sqlite3_stmt* statement = nullptr;
    std::int64_t newest = 0;
    if (sqlite3_prepare_v2(db_, "SELECT MAX(id) FROM passing", -1, &statement, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        newest = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    return newest;
}

std::optional<QJsonArray> JournalView::Detections(std::optional<std::int64_t> after, int limit,
                                                  std::string& error) {
    if (!Open(error)) return std::nullopt;
    const std::string sql =
        std::string(kDetectionColumns) +
        (after ? "WHERE p.id > ?1 ORDER BY p.id LIMIT ?2" : "ORDER BY p.id DESC LIMIT ?2");
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db_);
        sqlite3_finalize(statement);
        return std::nullopt;
    }
    if (after) sqlite3_bind_int64(statement, 1, *after);
    sqlite3_bind_int64(statement, 2, limit);
    std::vector<QJsonObject> rows;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) rows.push_back(DetectionRow(statement));
    if (step != SQLITE_DONE) error = sqlite3_errmsg(db_);
    sqlite3_finalize(statement);
    if (step != SQLITE_DONE) return std::nullopt;
    if (!after) std::reverse(rows.begin(), rows.end());
    QJsonArray detections;
    for (auto& row : rows) detections.append(row);
    return detections;
}

std::unique_ptr<QIODevice> JournalView::ExportStream(std::string& error) const {
    auto stream = std::make_unique<CsvExportStream>();
    if (!stream->Start(path_, error)) return nullptr;
    return stream;
}

}  // namespace torvane
