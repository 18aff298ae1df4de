#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "journal/JournalBatch.h"
#include "journal/JournalCheckpointer.h"
#include "journal/SqliteDatabase.h"

namespace torvane {

// The journal's writing connection and the thread that commits on it, so that the flush of a
// commit never holds the thread that hands the batch over. One commit is under way at a time;
// its batch belongs to the writer until the outcome is taken.
//
// Locking: `lock_` guards the job, its outcome and `stop_`; the batch is only read by the
// writer while the job runs, and the connection is used by one thread at a time (the opener
// before the thread starts, then the thread).
class JournalWriter {
public:
    struct Outcome {
        bool ok = false;
        std::string error;
        int code = 0;  // SQLite's primary result code of a failure
    };

    // How long a statement waits for a lock that another program holds.
    static constexpr int kBusyTimeoutMs = 250;

    JournalWriter() = default;
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // Opens the file in WAL mode with full synchronous writes and brings its layout up to date,
    // then starts the thread; false with the reason and SQLite's code.
    bool Open(const std::string& path, std::string& error, int& code);
    // Stops the thread once the commit under way is done, and closes the connection.
    void Close();
    bool IsOpen() const { return database_.IsOpen(); }

    // Commits the batch in one transaction on the thread. The batch must stay as it is until
    // the outcome is taken. `finished` is called on the thread once the outcome is ready.
    void Start(const JournalBatch& batch);
    bool InFlight() const;
    // The outcome of the commit under way once it has finished; false while it runs.
    bool TakeOutcome(Outcome& outcome);
    // Waits for the commit under way and takes its outcome.
    Outcome Wait();
    // Runs `work` on the thread's connection once no commit is under way, and waits for it.
    bool Run(const std::function<bool(SqliteDatabase&, std::string&)>& work, std::string& error);

    // Checkpoints run so far beside the commits (tests read it).
    int CheckpointsDone() const { return checkpointer_.Done(); }

    void SetFinishedNotice(std::function<void()> notice) { finished_ = std::move(notice); }
    // Called on the thread before each commit (tests hold commits back with it).
    void SetGateForTesting(std::function<void()> gate) { gate_ = std::move(gate); }

private:
    bool PrepareStatements(std::string& error);
    void Loop();
    Outcome Write(const JournalBatch& batch);
    bool WriteRows(const JournalBatch& batch, std::string& error);
    bool WriteDetections(const JournalBatch& batch, std::string& error);

    SqliteDatabase database_;
    JournalCheckpointer checkpointer_;
    SqliteStatement insertPassing_;
    SqliteStatement insertLine_;
    SqliteStatement markSent_;
    SqliteStatement setDetection_;
    std::function<void()> finished_;
    std::function<void()> gate_;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    const JournalBatch* batch_ = nullptr;  // the commit asked for
    const std::function<bool(SqliteDatabase&, std::string&)>* work_ = nullptr;
    bool inFlight_ = false;
    bool outcomeReady_ = false;
    Outcome outcome_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace torvane
