#pragma once

#include <QIODevice>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace torvane {

// The journal's export as CSV (the columns and texts of the `export` command), made a few rows
// at a time as it is read, from a read-only connection of its own: a whole journal is never
// held in memory, whatever its size.
class CsvExportStream : public QIODevice {
public:
    CsvExportStream() = default;
    ~CsvExportStream() override;

    // Opens the journal and its query; false with the reason.
    bool Start(const std::string& path, std::string& error);

    bool isSequential() const override { return true; }
    bool atEnd() const override { return done_ && pending_.empty(); }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    void Produce(std::size_t atLeast);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* query_ = nullptr;
    std::string pending_;
    bool done_ = false;
};

}  // namespace torvane
