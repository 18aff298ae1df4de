#include "journal/JournalWriter.h"

#include <utility>

#include "journal/JournalSchema.h"
#include "journal/RecordKey.h"

namespace torvane {

JournalWriter::~JournalWriter() {
    Close();
}

bool JournalWriter::Open(const std::string& path, std::string& error, int& code) {
    Close();
    bool opened = database_.Open(path, error);
    if (opened) {
        database_.SetBusyTimeout(kBusyTimeoutMs);
        opened = database_.Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", error) &&
                 PrepareJournalLayout(database_, error) && PrepareStatements(error);
    }
    if (!opened) {
        code = database_.LastCode();
        Close();
        return false;
    }
    // Without its own connection the checkpoints stay in the commits, slower but sound.
    checkpointer_.Start(path, database_);
    stop_ = false;
    thread_ = std::thread([this] { Loop(); });
    return true;
}

void JournalWriter::Close() {
    if (thread_.joinable()) {
        {
            std::unique_lock guard(lock_);
            // The commit under way ends; its outcome waits to be taken.
            changed_.wait(guard,
                          [this] { return !batch_ && !work_ && (!inFlight_ || outcomeReady_); });
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    // Closed first, so that the writer's connection, the last, checkpoints the whole log.
    checkpointer_.Stop();
    insertPassing_.Finalize();
    insertLine_.Finalize();
    markSent_.Finalize();
    setDetection_.Finalize();
    database_.Close();
    inFlight_ = false;
    outcomeReady_ = false;
}

bool JournalWriter::PrepareStatements(std::string& error) {
    return insertPassing_.Prepare(database_,
                                  "INSERT INTO passing(id, kind, source, record, token, "
                                  "received_ms, utc_offset, chip, bib, race_time, box_date, "
                                  "record_key, time_key, reason) "
                                  "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                                  error) &&
           insertLine_.Prepare(
               database_, "INSERT INTO host_line(seq, passing_id, line, as_bib) VALUES(?,?,?,?)",
               error) &&
           markSent_.Prepare(
               database_, "UPDATE host_line SET sent_ms = ?1 WHERE sent_ms IS NULL AND seq <= ?2",
               error) &&
           setDetection_.Prepare(
               database_, "UPDATE passing SET bib = ?2, race_time = ?3 WHERE id = ?1", error);
}

void JournalWriter::Start(const JournalBatch& batch) {
    {
        std::lock_guard guard(lock_);
        batch_ = &batch;
        inFlight_ = true;
        outcomeReady_ = false;
    }
    changed_.notify_all();
}

bool JournalWriter::InFlight() const {
    std::lock_guard guard(lock_);
    return inFlight_;
}

bool JournalWriter::TakeOutcome(Outcome& outcome) {
    std::lock_guard guard(lock_);
    if (!inFlight_ || !outcomeReady_) return false;
    outcome = std::move(outcome_);
    inFlight_ = false;
    outcomeReady_ = false;
    changed_.notify_all();
    return true;
}

JournalWriter::Outcome JournalWriter::Wait() {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return !inFlight_ || outcomeReady_; });
    Outcome outcome = std::move(outcome_);
    inFlight_ = false;
    outcomeReady_ = false;
    changed_.notify_all();
    return outcome;
}

bool JournalWriter::Run(const std::function<bool(SqliteDatabase&, std::string&)>& work,
                        std::string& error) {
    if (!thread_.joinable()) {
        error = "not open";
        return false;
    }
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return !inFlight_ && !work_; });
    work_ = &work;
    changed_.notify_all();
    changed_.wait(guard, [this] { return outcomeReady_ && !work_; });
    outcomeReady_ = false;
    error = outcome_.error;
    return outcome_.ok;
}

void JournalWriter::Loop() {
    std::unique_lock guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return stop_ || batch_ || work_; });
        if (stop_) return;
        if (batch_) {
            const JournalBatch* batch = std::exchange(batch_, nullptr);
            guard.unlock();
            if (gate_) gate_();
            Outcome outcome = Write(*batch);
            guard.lock();
            outcome_ = std::move(outcome);
            outcomeReady_ = true;
            changed_.notify_all();
            if (finished_) {
                guard.unlock();
                finished_();
                guard.lock();
            }
        } else {
            Outcome outcome;
            guard.unlock();
            outcome.ok = (*work_)(database_, outcome.error);
            guard.lock();
            outcome_ = std::move(outcome);
            outcomeReady_ = true;
            work_ = nullptr;
            changed_.notify_all();
        }
    }
}

JournalWriter::Outcome JournalWriter::Write(const JournalBatch& batch) {
    Outcome outcome;
    std::string ignored;
    outcome.ok = database_.Execute("BEGIN", outcome.error) && WriteRows(batch, outcome.error) &&
                 database_.Execute("COMMIT", outcome.error);
    if (!outcome.ok) {
        outcome.code = database_.LastCode();
        database_.Execute("ROLLBACK", ignored);
    }
    return outcome;
}

bool JournalWriter::WriteRows(const JournalBatch& batch, std::string& error) {
    for (const JournalBatch::Entry& pending : batch.entries) {
        const JournalEntry& e = pending.entry;
        SqliteStatement& insert = insertPassing_;
        insert.Reset();
        insert.Bind(1, pending.id);
        insert.Bind(2, static_cast<std::int64_t>(e.kind));
        insert.Bind(3, e.source);
        insert.Bind(4, e.record);
        insert.Bind(5, e.token);
        insert.Bind(6, e.receivedUtcMs);
        insert.Bind(7, static_cast<std::int64_t>(e.utcOffsetSeconds));
        insert.Bind(8, e.chip);
        insert.Bind(9, e.bib);
        insert.Bind(10, e.raceTime);
        insert.Bind(11, e.boxDate);
        insert.Bind(12, pending.key);
        insert.Bind(13, RecordTimeKey(e.record));
        insert.Bind(14, e.reason);
        insert.Step();
        const bool failed = insert.Failed();
        insert.Reset();
        if (failed) return (error = database_.LastError(), false);
    }
    for (const JournalBatch::Line& line : batch.lines) {
        insertLine_.Reset();
        insertLine_.Bind(1, line.seq);
        insertLine_.Bind(2, line.passingId);
        insertLine_.Bind(3, line.text);
        insertLine_.Bind(4, line.asBib);
        insertLine_.Step();
        const bool failed = insertLine_.Failed();
        insertLine_.Reset();
        if (failed) return (error = database_.LastError(), false);
    }
    if (!WriteDetections(batch, error)) return false;
    if (batch.sentSeq == 0) return true;
    markSent_.Reset();
    markSent_.Bind(1, batch.sentMs);
    markSent_.Bind(2, batch.sentSeq);
    markSent_.Step();
    const bool failed = markSent_.Failed();
    markSent_.Reset();
    if (failed) error = database_.LastError();
    return !failed;
}

bool JournalWriter::WriteDetections(const JournalBatch& batch, std::string& error) {
    for (const JournalBatch::Detection& detection : batch.detections) {
        setDetection_.Reset();
        setDetection_.Bind(1, detection.passingId);
        setDetection_.Bind(2, detection.bib);
        setDetection_.Bind(3, detection.raceTime);
        setDetection_.Step();
        const bool failed = setDetection_.Failed();
        setDetection_.Reset();
        if (failed) return (error = database_.LastError(), false);
    }
    return true;
}

}  // namespace torvane
