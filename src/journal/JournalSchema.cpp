#include "journal/JournalSchema.h"

#include <string_view>

#include "base/Clock.h"
#include "base/Texts.h"
#include "journal/RecordKey.h"
#include "journal/SqliteDatabase.h"

namespace torvane {
namespace {

constexpr const char* kTables = R"sql(
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
    time_key TEXT NOT NULL DEFAULT '',
    reason TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS host_line(
    seq INTEGER PRIMARY KEY,
    passing_id INTEGER NOT NULL,
    line TEXT NOT NULL,
    sent_ms INTEGER,
    as_bib TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS journal_info(began_ms INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS host_line_waiting ON host_line(seq) WHERE sent_ms IS NULL;
CREATE INDEX IF NOT EXISTS host_line_by_passing ON host_line(passing_id);
CREATE INDEX IF NOT EXISTS passing_unknown_chip ON passing(id) WHERE bib = chip AND race_time != '';
)sql";

// Resends are looked up among the passings that were forwarded (they have a race time), by the
// time of day the record carries first, so that the index grows at its end as a race goes on:
// an index in random order would have every commit rewrite pages all over the file. Earlier
// layouts had an index of that name on the record key alone, or on every passing.
constexpr const char* kRecordIndex =
    "DROP INDEX IF EXISTS passing_by_record;"
    "CREATE INDEX IF NOT EXISTS passing_forwarded ON passing(time_key, record_key) "
    "WHERE kind != 2 AND race_time != ''";

// Layout 5: the journal window looks passings up by bib or chip, and by a span of race time
// (race times are "HH:MM:SS.hh", so their text order is their time order). The race-time index
// grows at its end as a race goes on; the bib and chip ones cost a page or two per commit.
constexpr const char* kSearchIndexes =
    "CREATE INDEX IF NOT EXISTS passing_by_bib ON passing(bib);"
    "CREATE INDEX IF NOT EXISTS passing_by_chip ON passing(chip);"
    "CREATE INDEX IF NOT EXISTS passing_by_race_time ON passing(race_time) "
    "WHERE race_time != ''";

bool ReadLayout(SqliteDatabase& database, int& layout, std::string& error) {
    SqliteStatement query;
    if (!query.Prepare(database, "PRAGMA user_version", error)) return false;
    layout = query.Step() ? static_cast<int>(query.Int(0)) : 0;
    if (query.Failed()) error = database.LastError();
    return !query.Failed();
}

bool HasColumn(SqliteDatabase& database, const char* table, const char* column, bool& found,
               std::string& error) {
    SqliteStatement query;
    if (!query.Prepare(database, "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2", error)) {
        return false;
    }
    query.Bind(1, std::string_view(table));
    query.Bind(2, std::string_view(column));
    found = query.Step();
    if (query.Failed()) error = database.LastError();
    return !query.Failed();
}

// The time keys of a journal written before records were looked up by their time.
bool FillTimeKeys(SqliteDatabase& database, std::string& error) {
    SqliteStatement records, update;
    if (!records.Prepare(database, "SELECT id, record FROM passing WHERE kind != 2", error) ||
        !update.Prepare(database, "UPDATE passing SET time_key = ?2 WHERE id = ?1", error)) {
        return false;
    }
    while (records.Step()) {
        const std::string record = records.Text(1);
        update.Reset();
        update.Bind(1, records.Int(0));
        update.Bind(2, RecordTimeKey(record));
        update.Step();
        if (update.Failed()) break;
    }
    if (!records.Failed() && !update.Failed()) return true;
    error = database.LastError();
    return false;
}

bool AddMissingColumns(SqliteDatabase& database, std::string& error) {
    bool hasTimeKey = false, hasReason = false, hasAsBib = false;
    if (!HasColumn(database, "passing", "time_key", hasTimeKey, error) ||
        !HasColumn(database, "passing", "reason", hasReason, error) ||
        !HasColumn(database, "host_line", "as_bib", hasAsBib, error)) {
        return false;
    }
    if (!hasAsBib &&
        !database.Execute("ALTER TABLE host_line ADD COLUMN as_bib TEXT NOT NULL DEFAULT ''",
                          error)) {
        return false;
    }
    if (!hasTimeKey &&
        (!database.Execute("ALTER TABLE passing ADD COLUMN time_key TEXT NOT NULL DEFAULT ''",
                           error) ||
         !FillTimeKeys(database, error))) {
        return false;
    }
    return hasReason ||
           database.Execute("ALTER TABLE passing ADD COLUMN reason TEXT NOT NULL DEFAULT ''",
                            error);
}

// When the race of this journal began: its first passing for a journal written before this was
// kept, the opening otherwise.
bool NoteBeginning(SqliteDatabase& database, std::string& error) {
    const std::string note = Format(
        "INSERT INTO journal_info(began_ms) SELECT IFNULL((SELECT MIN(received_ms) FROM "
        "passing), %lld) WHERE NOT EXISTS (SELECT 1 FROM journal_info)",
        static_cast<long long>(clock::NowMs()));
    return database.Execute(note.c_str(), error);
}

// Each step brings a file of an earlier layout further; a new file takes them all.
bool UpgradeToLayout4(SqliteDatabase& database, std::string& error) {
    return database.Execute(kTables, error) && AddMissingColumns(database, error) &&
           database.Execute(kRecordIndex, error) && NoteBeginning(database, error);
}

bool UpgradeToLayout5(SqliteDatabase& database, std::string& error) {
    return database.Execute(kSearchIndexes, error);
}

bool Upgrade(SqliteDatabase& database, int layout, std::string& error) {
    const std::string setLayout = Format("PRAGMA user_version = %d", kJournalLayout);
    return (layout >= 4 || UpgradeToLayout4(database, error)) &&
           (layout >= 5 || UpgradeToLayout5(database, error)) &&
           database.Execute(setLayout.c_str(), error);
}

}  // namespace

bool PrepareJournalLayout(SqliteDatabase& database, std::string& error) {
    int layout = 0;
    if (!ReadLayout(database, layout, error)) return false;
    if (layout == kJournalLayout) return true;
    if (layout > kJournalLayout) {
        error = Format(Tr("written by a later version of Torvane (layout %d)",
                          "écrit par une version plus récente de Torvane (format %d)"),
                       layout);
        return false;
    }
    if (!database.Execute("BEGIN IMMEDIATE", error)) return false;
    if (Upgrade(database, layout, error) && database.Execute("COMMIT", error)) return true;
    std::string ignored;
    database.Execute("ROLLBACK", ignored);
    return false;
}

}  // namespace torvane
