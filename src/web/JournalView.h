#pragma once

#include <QIODevice>
#include <QJsonArray>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace torvane {

// The journal read through a read-only connection of its own: in WAL mode it never waits for
// the program's writes, nor they for it. Opened at the first use; the file is the one the
// program journals to.
class JournalView {
public:
    explicit JournalView(std::string path) : path_(std::move(path)) {}
    ~JournalView();
    JournalView(const JournalView&) = delete;
    JournalView& operator=(const JournalView&) = delete;

    // Closes the connection (the file is about to be kept away); the next read opens the path
    // again.
    void Release();
    std::int64_t NewestSeq();
    // Detections after `after`, oldest first; without it the newest `limit`. Nothing (with the
    // reason) when the journal cannot be read.
    std::optional<QJsonArray> Detections(std::optional<std::int64_t> after, int limit,
                                         std::string& error);
    // A stream of the export's CSV, made row by row as it is read; null with the reason.
    std::unique_ptr<QIODevice> ExportStream(std::string& error) const;

private:
    bool Open(std::string& error);

    std::string path_;
    sqlite3* db_ = nullptr;
};

// "YYYY-MM-DDTHH:MM:SS.mmm+HH:MM" of an instant at the given offset from UTC.
std::string IsoLocalTime(std::int64_t utcMs, int offsetSeconds);

}  // namespace torvane
