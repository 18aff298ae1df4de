#include "journal/SqliteDatabase.h"

#include <sqlite3.h>

namespace torvane {

SqliteDatabase::~SqliteDatabase() {
    Close();
}

bool SqliteDatabase::Open(const std::string& path, std::string& error) {
    Close();
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        error = db_ ? sqlite3_errmsg(db_) : "out of memory";
        Close();
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    return true;
}

bool SqliteDatabase::OpenReadOnly(const std::string& path, int busyMs, std::string& error) {
    Close();
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        error = db_ ? sqlite3_errmsg(db_) : "out of memory";
        Close();
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyMs);
    return true;
}

void SqliteDatabase::Close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SqliteDatabase::Execute(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : LastError();
    sqlite3_free(message);
    return false;
}

std::string SqliteDatabase::LastError() const {
    return db_ ? sqlite3_errmsg(db_) : "no database";
}

int SqliteDatabase::LastCode() const {
    return db_ ? (sqlite3_extended_errcode(db_) & 0xff) : SQLITE_CANTOPEN;
}

std::int64_t SqliteDatabase::Changes() const {
    return db_ ? sqlite3_changes64(db_) : 0;
}

void SqliteDatabase::SetBusyTimeout(int milliseconds) {
    if (db_) sqlite3_busy_timeout(db_, milliseconds);
}

SqliteStatement::~SqliteStatement() {
    Finalize();
}

bool SqliteStatement::Prepare(SqliteDatabase& database, const char* sql, std::string& error) {
    Finalize();
    if (sqlite3_prepare_v3(database.Handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_,
                           nullptr) == SQLITE_OK) {
        return true;
    }
    error = database.LastError();
    statement_ = nullptr;
    return false;
}

void SqliteStatement::Finalize() {
    if (statement_) sqlite3_finalize(statement_);
    statement_ = nullptr;
}

void SqliteStatement::Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
}

void SqliteStatement::Bind(int index, std::string_view text) {
    // SQLite takes a null pointer for NULL: an empty text is bound as one.
    sqlite3_bind_text(statement_, index, text.empty() ? "" : text.data(),
                      static_cast<int>(text.size()), SQLITE_STATIC);
}

void SqliteStatement::BindNull(int index) {
    sqlite3_bind_null(statement_, index);
}

bool SqliteStatement::Step() {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    failed_ = result != SQLITE_DONE;
    return false;
}

void SqliteStatement::Reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    failed_ = false;
}

std::int64_t SqliteStatement::Int(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::string SqliteStatement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? std::string(text,
                              static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                : std::string();
}

bool SqliteStatement::IsNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

}  // namespace torvane
