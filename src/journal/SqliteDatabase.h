#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace torvane {

class SqliteStatement;

// One SQLite database file, opened by its owner's thread and used from that thread only.
class SqliteDatabase {
public:
    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // Opens or creates the file; false with the reason in `error`.
    bool Open(const std::string& path, std::string& error);
    // Opens an existing file for reading only, waiting up to `busyMs` for a lock; false with
    // the reason in `error`.
    bool OpenReadOnly(const std::string& path, int busyMs, std::string& error);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }

    // Runs statements that return no rows; false with the reason in `error`.
    bool Execute(const char* sql, std::string& error);
    std::string LastError() const;
    // SQLite's primary result code of the last call that failed (SQLITE_BUSY, SQLITE_FULL...).
    int LastCode() const;
    // Rows changed by the last INSERT, UPDATE or DELETE.
    std::int64_t Changes() const;
    // How long a statement waits for a lock another program holds before it fails.
    void SetBusyTimeout(int milliseconds);
    sqlite3* Handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// A prepared statement, reset for each use.
class SqliteStatement {
public:
    SqliteStatement() = default;
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool Prepare(SqliteDatabase& database, const char* sql, std::string& error);
    void Finalize();
    bool IsPrepared() const { return statement_ != nullptr; }

    // Binding starts again after Reset; indexes count from 1. A bound text is not copied: it
    // must stay as it is until the statement is Reset.
    void Bind(int index, std::int64_t value);
    void Bind(int index, std::string_view text);
    void BindNull(int index);
    // True while a row is there; false at the end or on an error (see Failed).
    bool Step();
    bool Failed() const { return failed_; }
    void Reset();

    std::int64_t Int(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

private:
    sqlite3_stmt* statement_ = nullptr;
    bool failed_ = false;
};

}  // namespace torvane
