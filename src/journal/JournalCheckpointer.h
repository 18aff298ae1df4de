#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "journal/SqliteDatabase.h"

namespace torvane {

// Copies the journal's write-ahead log back into the file on a connection and a thread of its
// own. SQLite would otherwise do it inside the commit that crosses the log's threshold, and
// that commit (with the acknowledgements waiting on it) would pay two more disk flushes. The
// checkpoints are passive: they copy what no reader still needs and never wait for a lock, so
// commits go on beside them.
class JournalCheckpointer {
public:
    // Pages of log after a commit that ask for a checkpoint (SQLite's own default threshold).
    static constexpr int kLogPages = 1000;

    JournalCheckpointer() = default;
    ~JournalCheckpointer();
    JournalCheckpointer(const JournalCheckpointer&) = delete;
    JournalCheckpointer& operator=(const JournalCheckpointer&) = delete;

    // Opens its connection to the file and takes over the checkpoints of `writer`'s
    // connection; false (and `writer` keeps SQLite's automatic checkpoints) if it cannot.
    bool Start(const std::string& path, SqliteDatabase& writer);
    // Waits for a checkpoint under way and closes the connection; the writer's connection gets
    // SQLite's automatic checkpoints back.
    void Stop();
    bool IsRunning() const { return thread_.joinable(); }

    // Asks for a checkpoint; one asked while another runs is done once it ends.
    void Request();
    // Checkpoints done since Start (tests read it).
    int Done() const;

private:
    void Loop();

    SqliteDatabase database_;
    SqliteDatabase* writer_ = nullptr;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool requested_ = false;
    bool stop_ = false;
    int done_ = 0;
    std::thread thread_;
};

}  // namespace torvane
