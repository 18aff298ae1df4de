#include "journal/JournalRows.h"

#include <algorithm>

#include "journal/JournalEntry.h"

namespace torvane {
namespace {

constexpr int kBusyMs = 50;

// A row and what its host lines say: the first line's sent time, how many lines, how many wait.
constexpr const char* kRowColumns =
    "SELECT p.id, p.received_ms, p.utc_offset, p.source, p.chip, p.bib, p.race_time, p.reason, "
    "(SELECT h.sent_ms FROM host_line h WHERE h.passing_id = p.id ORDER BY h.seq LIMIT 1), "
    "(SELECT COUNT(*) FROM host_line h WHERE h.passing_id = p.id), "
    "(SELECT COUNT(*) FROM host_line h WHERE h.passing_id = p.id AND h.sent_ms IS NULL), "
    "(SELECT h.as_bib FROM host_line h WHERE h.passing_id = p.id AND h.as_bib != '' AND "
    "h.sent_ms IS NOT NULL ORDER BY h.seq DESC LIMIT 1) "
    "FROM passing p WHERE p.id BETWEEN ?1 AND ?2 ORDER BY p.id";

// The upper end of an open span: above every "HH:MM:SS.hh".
constexpr const char* kAfterEveryRaceTime = "~";

JournalRow RowOf(const SqliteStatement& query) {
    JournalRow row;
    row.id = query.Int(0);
    row.receivedUtcMs = query.Int(1);
    row.utcOffsetSeconds = static_cast<int>(query.Int(2));
    row.source = query.Text(3);
    row.chip = query.Text(4);
    row.bib = query.Text(5);
    row.raceTime = query.Text(6);
    row.reason = query.Text(7);
    if (!query.IsNull(8)) row.firstSentUtcMs = query.Int(8);
    row.asBib = query.Text(11);
    row.state = StateOfPassing(query.Int(9), !query.IsNull(8), query.Int(10), row.reason,
                               !row.asBib.empty());
    return row;
}

std::string FindSql(const JournalSearch& search) {
    std::string sql =
        "SELECT p.id, p.reason = ?4, EXISTS(SELECT 1 FROM host_line h WHERE h.passing_id = p.id) "
        "FROM passing p WHERE 1";
    if (!search.term.empty()) sql += " AND (p.bib = ?1 OR p.chip = ?1)";
    if (!search.fromRaceTime.empty() || !search.toRaceTime.empty()) {
        sql += " AND p.race_time != '' AND p.race_time BETWEEN ?2 AND ?3";
    }
    if (search.heldOnly) {
        sql +=
            " AND p.reason = ?4 AND NOT EXISTS(SELECT 1 FROM host_line h WHERE h.passing_id = "
            "p.id)";
    }
    return sql + " ORDER BY p.id";
}

}  // namespace

PassingState StateOfPassing(std::int64_t hostLines, bool firstLineSent, std::int64_t waitingLines,
                            const std::string& reason, bool sentAsBib) {
    if (hostLines == 0) {
        return reason == not_forwarded::kFlowClosed ? PassingState::FlowClosed
                                                    : PassingState::NotForwarded;
    }
    if (!firstLineSent) return PassingState::Waiting;
    if (waitingLines > 0) return PassingState::Resend;
    return sentAsBib ? PassingState::SentAsBib : PassingState::Sent;
}

bool JournalRowReader::Open(const std::string& path, std::string& error) {
    range_.Finalize();
    database_.Close();
    return database_.OpenReadOnly(path, kBusyMs, error) &&
           range_.Prepare(database_, kRowColumns, error);
}

std::optional<JournalKeys> JournalRowReader::FindAll(std::string& error) {
    SqliteStatement query;
    if (!query.Prepare(database_, "SELECT MIN(id), MAX(id), COUNT(*) FROM passing", error)) {
        return std::nullopt;
    }
    JournalKeys keys;
    if (query.Step() && !query.IsNull(0)) {
        keys.first = query.Int(0);
        keys.last = query.Int(1);
        // Ids follow one another unless a damaged file was replaced: then list them.
        keys.isList = query.Int(2) != keys.last - keys.first + 1;
    }
    if (query.Failed()) {
        error = database_.LastError();
        return std::nullopt;
    }
    if (!keys.isList) return keys;
    SqliteStatement ids;
    if (!ids.Prepare(database_, "SELECT id FROM passing ORDER BY id", error)) return std::nullopt;
    while (ids.Step()) keys.ids.push_back(ids.Int(0));
    if (!ids.Failed()) return keys;
    error = database_.LastError();
    return std::nullopt;
}

std::optional<JournalKeys> JournalRowReader::Find(const JournalSearch& search, std::string& error) {
    if (!IsOpen()) {
        error = "not open";
        return std::nullopt;
    }
    if (search.MatchesAll()) return FindAll(error);
    SqliteStatement query;
    const std::string sql = FindSql(search);
    if (!query.Prepare(database_, sql.c_str(), error)) return std::nullopt;
    query.Bind(1, search.term);
    query.Bind(2, search.fromRaceTime);
    query.Bind(3, search.toRaceTime.empty() ? std::string_view(kAfterEveryRaceTime)
                                            : std::string_view(search.toRaceTime));
    query.Bind(4, std::string_view(not_forwarded::kFlowClosed));
    JournalKeys keys;
    keys.isList = true;
    while (query.Step()) {
        keys.ids.push_back(query.Int(0));
        keys.heldByClosedFlow += query.Int(1) != 0;
        keys.forwarded += query.Int(2) != 0;
    }
    if (!query.Failed()) return keys;
    error = database_.LastError();
    return std::nullopt;
}

bool JournalRowReader::ReadRange(std::int64_t firstId, std::int64_t lastId,
                                 std::vector<JournalRow>& rows, std::string& error) {
    range_.Reset();
    range_.Bind(1, firstId);
    range_.Bind(2, lastId);
    while (range_.Step()) rows.push_back(RowOf(range_));
    const bool failed = range_.Failed();
    if (failed) error = database_.LastError();
    range_.Reset();
    return !failed;
}

// A range is read in one statement; a list id by id (a search's rows are few, or scattered).
std::vector<JournalRow> JournalRowReader::Rows(const JournalKeys& keys, std::size_t from,
                                               std::size_t count, std::string& error) {
    std::vector<JournalRow> rows;
    if (!IsOpen() || from >= keys.Count()) return rows;
    const std::size_t end = std::min(keys.Count(), from + count);
    if (!keys.isList) {
        ReadRange(keys.At(from), keys.At(end - 1), rows, error);
        return rows;
    }
    for (std::size_t i = from; i < end; ++i) {
        if (!ReadRange(keys.ids[i], keys.ids[i], rows, error)) break;
    }
    return rows;
}

}  // namespace torvane
