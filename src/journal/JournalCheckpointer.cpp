#include "journal/JournalCheckpointer.h"

#include <sqlite3.h>

namespace torvane {

namespace {

// Called by SQLite on the writer's thread after each commit, with the log's length in pages.
int AfterCommit(void* checkpointer, sqlite3*, const char*, int logPages) {
    if (logPages >= JournalCheckpointer::kLogPages) {
        static_cast<JournalCheckpointer*>(checkpointer)->Request();
    }
    return SQLITE_OK;
}

}  // namespace

JournalCheckpointer::~JournalCheckpointer() {
    Stop();
}

bool JournalCheckpointer::Start(const std::string& path, SqliteDatabase& writer) {
    Stop();
    std::string error;
    if (!database_.Open(path, error)) return false;
    writer_ = &writer;
    stop_ = false;
    requested_ = false;
    done_ = 0;
    // Replaces the automatic checkpoint, which SQLite runs through the same hook.
    sqlite3_wal_hook(writer.Handle(), AfterCommit, this);
    thread_ = std::thread([this] { Loop(); });
    return true;
}

void JournalCheckpointer::Stop() {
    if (thread_.joinable()) {
        {
            std::lock_guard guard(lock_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    if (writer_ && writer_->IsOpen()) {
        sqlite3_wal_autocheckpoint(writer_->Handle(), kLogPages);
    }
    writer_ = nullptr;
    database_.Close();
}

void JournalCheckpointer::Request() {
    {
        std::lock_guard guard(lock_);
        requested_ = true;
    }
    changed_.notify_all();
}

int JournalCheckpointer::Done() const {
    std::lock_guard guard(lock_);
    return done_;
}

void JournalCheckpointer::Loop() {
    std::unique_lock guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return stop_ || requested_; });
        if (stop_) return;
        requested_ = false;
        guard.unlock();
        // A failure (a reader holding old pages, a full disk) leaves the log to the next try.
        sqlite3_wal_checkpoint_v2(database_.Handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                  nullptr);
        guard.lock();
        ++done_;
    }
}

}  // namespace torvane
