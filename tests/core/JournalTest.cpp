#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "base/Clock.h"
#include "journal/Journal.h"
#include "journal/JournalExport.h"
#include "journal/JournalKeeping.h"
#include "journal/JournalRows.h"
#include "journal/JournalSchema.h"
#include "support/TempFolder.h"

namespace torvane {
namespace {

using test::ReadFile;
using test::TempFolder;

JournalEntry StoreEntry(const std::string& source, int n) {
    JournalEntry entry;
    entry.source = source;
    char record[64];
    std::snprintf(record, sizeof record, "KV%05d12:%02d:%02d.123            261208", n % 100000,
                  n / 60 % 60, n % 60);
    entry.record = record;
    entry.token = std::to_string(n / 10);
    entry.receivedUtcMs = 1796733000000 + n;
    entry.utcOffsetSeconds = 3600;
    entry.chip = entry.record.substr(0, 7);
    entry.bib = std::to_string(n);
    entry.raceTime = "12:00:00.12";
    entry.boxDate = "20261208";
    return entry;
}

class JournalTest : public ::testing::Test {
protected:
    std::string Path() const { return folder.Path() + "/journal.db"; }
    void Open(Journal& journal) {
        std::string error;
        ASSERT_TRUE(journal.Open(Path(), error)) << error;
    }
    TempFolder folder;
};

TEST_F(JournalTest, ARecordIsKnownFromItsAdditionOnAndAcrossAReopening) {
    {
        Journal journal;
        Open(journal);
        const JournalEntry entry = StoreEntry("Loop1", 7);
        EXPECT_FALSE(journal.Contains("Loop1", entry.record));
        journal.Add(entry);
        EXPECT_TRUE(journal.Contains("Loop1", entry.record));  // before the commit too
        EXPECT_FALSE(journal.Contains("Loop2", entry.record));
        EXPECT_FALSE(journal.Contains("Loop1", entry.record + " "));
        JournalEntry manual = StoreEntry("12", 8);
        manual.kind = PassingKind::Manual;
        journal.Add(manual);
        // Journaled while the flow was closed: it is forwarded when it comes again.
        JournalEntry held = StoreEntry("Loop1", 9);
        held.bib.clear();
        held.raceTime.clear();
        held.reason = "flow closed";
        journal.Add(held);
        EXPECT_FALSE(journal.Contains("Loop1", held.record));
        std::string error;
        ASSERT_TRUE(journal.Commit(error)) << error;
    }
    Journal reopened;
    Open(reopened);
    EXPECT_TRUE(reopened.Contains("Loop1", StoreEntry("Loop1", 7).record));
    // A manual detection is never a resend, nor a passing that was not forwarded.
    EXPECT_FALSE(reopened.Contains("12", StoreEntry("12", 8).record));
    EXPECT_FALSE(reopened.Contains("Loop1", StoreEntry("Loop1", 9).record));
}

TEST_F(JournalTest, LinesWaitUntilMarkedSentAndNumbersGoOnAfterAReopening) {
    std::int64_t third = 0;
    {
        Journal journal;
        Open(journal);
        const std::int64_t id = journal.Add(StoreEntry("Loop1", 1));
        journal.AddHostLine(id, "line 1");
        const std::int64_t second = journal.AddHostLine(id, "line 2");
        third = journal.AddHostLine(id, "line 3");
        journal.MarkSent(second, 1000);
        std::string error;
        ASSERT_TRUE(journal.Commit(error)) << error;
    }
    Journal reopened;
    Open(reopened);
    std::string error;
    const auto waiting = reopened.WaitingLinesFrom(1, 1000000, error);
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].seq, third);
    EXPECT_EQ(waiting[0].text, "line 3");
    EXPECT_GT(reopened.AddHostLine(1, "line 4"), third);
}

TEST_F(JournalTest, OneCommitWritesEverythingAddedSinceTheLast) {
    Journal journal;
    Open(journal);
    std::string error;
    EXPECT_TRUE(journal.Commit(error));  // nothing to write: no commit
    EXPECT_EQ(journal.CommitCount(), 0u);
    for (int n = 0; n < 5; ++n) journal.AddHostLine(journal.Add(StoreEntry("L", n)), "x");
    ASSERT_TRUE(journal.Commit(error)) << error;
    EXPECT_EQ(journal.CommitCount(), 1u);
    EXPECT_FALSE(journal.HasPending());
    EXPECT_EQ(journal.WaitingLinesFrom(1, 1000000, error).size(), 5u);
}

TEST_F(JournalTest, ReplayTakesTheFirstLineOfEachPassingReceivedInTheSpan) {
    Journal journal;
    Open(journal);
    for (int n = 0; n < 4; ++n) {
        const std::int64_t id = journal.Add(StoreEntry("L", n));
        if (n != 2) journal.AddHostLine(id, "first " + std::to_string(n));
        journal.AddHostLine(id, "again " + std::to_string(n));
    }
    journal.Add(StoreEntry("L", 4));  // never forwarded
    std::string error;
    ASSERT_TRUE(journal.Commit(error));
    const auto found = journal.ForwardedBetween(1796733000001, 1796733000002, error);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].line, "first 1");
    EXPECT_EQ(found[1].line, "again 2");

    // The same, read from the file by a reader of its own, a chunk at a time; the reader may stop.
    struct Case {
        std::size_t chunkRows;
        std::size_t stopAfterChunks;  // 0: never
        std::vector<std::string> lines;
        bool done;
    } cases[] = {{1, 0, {"first 1", "again 2"}, true},
                 {5, 0, {"first 1", "again 2"}, true},
                 {1, 1, {"first 1"}, false}};
    for (const Case& c : cases) {
        std::vector<std::string> lines;
        std::size_t chunks = 0;
        const JournalReadResult read =
            ReadForwardedSpan(journal.Path(), 1796733000001, 1796733000002, c.chunkRows,
                              [&](std::vector<ForwardedDetection> chunk) {
                                  EXPECT_LE(chunk.size(), c.chunkRows);
                                  for (const ForwardedDetection& detection : chunk)
                                      lines.push_back(detection.line);
                                  return ++chunks != c.stopAfterChunks;
                              });
        EXPECT_EQ(lines, c.lines) << c.chunkRows;
        EXPECT_EQ(read.done, c.done) << read.error;
    }

    // Chosen passings, in the order given; one never forwarded, or missing, is skipped.
    std::vector<ForwardedDetection> chosen;
    const JournalReadResult read =
        ReadForwardedPassings(journal.Path(), {3, 5, 1, 99}, 1, [&](auto chunk) {
            chosen.insert(chosen.end(), chunk.begin(), chunk.end());
            return true;
        });
    EXPECT_TRUE(read.done) << read.error;
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[0].passingId, 3);
    EXPECT_EQ(chosen[0].line, "again 2");
    EXPECT_EQ(chosen[1].line, "first 0");
}

TEST_F(JournalTest, ExportWritesOneCsvRowPerPassingWithItsSentTime) {
    Journal journal;
    Open(journal);
    JournalEntry entry = StoreEntry("Loop,1", 0);
    entry.record = "KV\"1\"";
    const std::int64_t id = journal.Add(entry);
    journal.MarkSent(journal.AddHostLine(id, "x"), 1796733001500);
    journal.Add(StoreEntry("Loop2", 1));
    std::string error;
    ASSERT_TRUE(journal.Commit(error));
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    // Read through a connection of its own while the journal stays open.
    const JournalReadResult written = ExportJournalCsv(journal.Path(), folder.Path() + "/out.csv");
    ::unsetenv("TZ");
    ::tzset();
    ASSERT_TRUE(written.done) << written.error;
    EXPECT_EQ(written.rows, 2u);
    EXPECT_EQ(ReadFile(folder.Path() + "/out.csv"),
              "received,source,record,chip,bib,race_time,sent\r\n"
              "2026-12-08 13:30:00.000,\"Loop,1\",\"KV\"\"1\"\"\",KV00000,0,12:00:00.12,"
              "2026-12-08 12:30:01.500\r\n"
              "2026-12-08 13:30:00.001,Loop2,KV0000112:00:01.123            261208,KV00001,1,"
              "12:00:00.12,\r\n");
    // A search's rows, as a list or as a range of ids, counted as they go.
    JournalKeys second;
    second.isList = true;
    second.ids = {2};
    JournalKeys both;
    both.last = 2;
    for (const JournalKeys& keys : {second, both}) {
        std::atomic<std::size_t> counted{0};
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        const JournalReadResult chosen =
            ExportJournalRowsCsv(journal.Path(), keys, folder.Path() + "/chosen.csv", &counted);
        ::unsetenv("TZ");
        ::tzset();
        ASSERT_TRUE(chosen.done) << chosen.error;
        EXPECT_EQ(counted.load(), keys.Count());
        const std::string whole = ReadFile(folder.Path() + "/out.csv");
        EXPECT_EQ(ReadFile(folder.Path() + "/chosen.csv"),
                  keys.isList ? whole.substr(0, whole.find("\r\n") + 2) +
                                    whole.substr(whole.rfind("2026-12-08 13:30:00.001"))
                              : whole);
    }
    const JournalReadResult refused =
        ExportJournalCsv(journal.Path(), folder.Path() + "/no/such/folder.csv");
    EXPECT_FALSE(refused.done);
    EXPECT_EQ(refused.error, "No such file or directory");
    const JournalReadResult noJournal =
        ExportJournalCsv(folder.Path() + "/none.db", folder.Path() + "/out2.csv");
    EXPECT_FALSE(noJournal.done);
    EXPECT_FALSE(noJournal.error.empty());
}

// A passing with its host line, marked sent, costs less than 300 bytes on disk.
TEST_F(JournalTest, APassingTakesLessThan300Bytes) {
    constexpr int kPassings = 20000;
    {
        Journal journal;
        Open(journal);
        std::string error;
        for (int n = 0; n < kPassings; ++n) {
            const std::int64_t id = journal.Add(StoreEntry("Loop1", n));
            const std::int64_t seq = journal.AddHostLine(
                id, "AddDagClock(1\tLoop1\t" + std::to_string(n) + "\t1\t12:34:56.78)");
            journal.MarkSent(seq, 1796733000000 + n);
            if (n % 100 == 99) {
                ASSERT_TRUE(journal.Commit(error)) << error;
            }
        }
        // The log crossed its threshold: it is copied back beside the commits, not in them.
        for (int waited = 0; journal.CheckpointsDone() == 0 && waited < 500; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_GT(journal.CheckpointsDone(), 0);
    }  // closing folds the write-ahead log into the file
    struct stat st {};
    ASSERT_EQ(::stat(Path().c_str(), &st), 0);
    std::printf("journal: %lld bytes a passing\n", static_cast<long long>(st.st_size / kPassings));
    EXPECT_LT(st.st_size / kPassings, 300) << st.st_size / kPassings << " bytes a passing";
}

// A disk that takes no more bytes: the commit fails, nothing is lost, and the next commit
// writes everything once there is room again.
TEST_F(JournalTest, AFailedCommitKeepsEverythingForTheNext) {
    Journal journal;
    Open(journal);
    std::string error;
    journal.Add(StoreEntry("L", 0));
    ASSERT_TRUE(journal.Commit(error));

    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = saved;
    full.rlim_cur = 0;
    ::setrlimit(RLIMIT_FSIZE, &full);
    for (int n = 1; n <= 50; ++n) journal.AddHostLine(journal.Add(StoreEntry("L", n)), "x");
    const bool committed = journal.Commit(error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(committed);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(journal.HasPending());
    EXPECT_TRUE(journal.Contains("L", StoreEntry("L", 50).record));
    ASSERT_TRUE(journal.Commit(error)) << error;
    EXPECT_EQ(journal.WaitingLinesFrom(1, 1000000, error).size(), 50u);
}

TEST_F(JournalTest, AJournalThatCannotBeOpenedRefusesEveryCommit) {
    Journal journal;
    std::string error;
    ::mkdir((folder.Path() + "/dir.db").c_str(), 0755);
    EXPECT_FALSE(journal.Open(folder.Path() + "/dir.db", error));
    journal.Add(StoreEntry("L", 1));
    EXPECT_FALSE(journal.Commit(error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(journal.Contains("L", StoreEntry("L", 1).record));
}

// Any record gets a key, the same each time; both dialects are keyed by the time they carry,
// which keeps the file's index in the order passings come.
TEST(RecordTimeKeyTest, IsTheTimeEachKindOfRecordCarries) {
    const struct {
        const char* record;
        const char* key;
    } cases[] = {
        {"KV0000112:34:56.789  001  100  2612083F", "12:34:56.789"},
        {"KV00001 12:34:56.78  001  100  2612083F", " 12:34:56.78"},
        {"t=09:00:01.250|c=KV00001|ct=UH|d=261208", "09:00:01.250"},
        {"c=KV00001|ct=UH|t=23:59:59.999|d=261208", "23:59:59.999"},
        {"c=KV00001|xt=1|t=|d=261208", ""},
        {"c=KV00001|tt=08:00:00.000|d=261208|l=1", "01|tt=08:00:"},  // no "t=": the fixed field
        {"KV00001", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(RecordTimeKey(c.record), c.key) << c.record;
}

// Records that carry the same time, or none, are still told apart by their whole text.
TEST_F(JournalTest, RecordsOfTheSameTimeAreToldApart) {
    Journal journal;
    Open(journal);
    for (const char* record : {"a", "b", "KV00001 00:00:00.00", "KV00002 00:00:00.00"}) {
        JournalEntry entry = StoreEntry("L", 1);
        entry.record = record;
        journal.Add(entry);
    }
    std::string error;
    ASSERT_TRUE(journal.Commit(error)) << error;
    for (const char* known : {"a", "b", "KV00001 00:00:00.00", "KV00002 00:00:00.00"}) {
        EXPECT_TRUE(journal.Contains("L", known)) << known;
    }
    for (const char* unknown : {"c", "KV00003 00:00:00.00", "KV00001 00:00:00.0"}) {
        EXPECT_FALSE(journal.Contains("L", unknown)) << unknown;
    }
}

// Every layout an earlier version wrote opens, is brought up to date, and still knows its
// forwarded records; a later layout is refused untouched.
TEST_F(JournalTest, EarlierLayoutsAreBroughtUpToDate) {
    constexpr const char* kFirstPassing =
        "CREATE TABLE passing(id INTEGER PRIMARY KEY, kind INTEGER NOT NULL, source TEXT NOT "
        "NULL, record TEXT NOT NULL, token TEXT NOT NULL, received_ms INTEGER NOT NULL, "
        "utc_offset INTEGER NOT NULL, chip TEXT NOT NULL, bib TEXT NOT NULL, race_time TEXT NOT "
        "NULL, box_date TEXT NOT NULL, record_key INTEGER NOT NULL";
    constexpr const char* kHostLine =
        "CREATE TABLE host_line(seq INTEGER PRIMARY KEY, passing_id INTEGER NOT NULL, line TEXT "
        "NOT NULL, sent_ms INTEGER);";
    const struct {
        const char* name;
        std::string layout;
        bool opens;
    } cases[] = {
        {"record key index",
         std::string(kFirstPassing) + ");" + kHostLine +
             "CREATE INDEX passing_by_record ON passing(record_key);",
         true},
        {"no index", std::string(kFirstPassing) + ");" + kHostLine, true},
        {"time keys",
         std::string(kFirstPassing) + ", time_key TEXT NOT NULL DEFAULT '');" + kHostLine +
             "CREATE INDEX passing_by_record ON passing(time_key, record_key) "
             "WHERE kind != 2; CREATE TRIGGER keyed AFTER INSERT ON passing BEGIN UPDATE "
             "passing SET time_key = substr(new.record, 8, 12) WHERE id = new.id; END;",
         true},
        {"reasons (layout 3)",
         std::string(kFirstPassing) +
             ", time_key TEXT NOT NULL DEFAULT '', reason TEXT NOT NULL DEFAULT '');" + kHostLine +
             "CREATE TRIGGER keyed AFTER INSERT ON passing BEGIN UPDATE passing SET time_key = "
             "substr(new.record, 8, 12) WHERE id = new.id; END; PRAGMA user_version = 3;",
         true},
        {"later layout",
         std::string(kFirstPassing) + ");" + kHostLine + "PRAGMA user_version = 99;", false},
    };
    const std::string record = StoreEntry("Loop1", 5).record;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(Path().c_str());
        {
            SqliteDatabase older;
            std::string error;
            ASSERT_TRUE(older.Open(Path(), error)) << error;
            ASSERT_TRUE(
                older.Execute((c.layout +
                               "INSERT INTO passing(id, kind, source, record, token, "
                               "received_ms, utc_offset, chip, bib, race_time, box_date, "
                               "record_key) VALUES(1, 0, 'Loop1', '" +
                               record + "', '1', 0, 0, 'KV00005', '5', '12:00:05.12', '', " +
                               std::to_string(RecordKey("Loop1", record)) + ");")
                                  .c_str(),
                              error))
                << error;
        }
        Journal journal;
        std::string error;
        ASSERT_EQ(journal.Open(Path(), error), c.opens) << error;
        if (!c.opens) continue;
        EXPECT_TRUE(journal.Contains("Loop1", record));
        EXPECT_FALSE(journal.Contains("Loop2", record));
        journal.Add(StoreEntry("Loop1", 6));
        EXPECT_TRUE(journal.Commit(error)) << error;
        SqliteDatabase check;
        ASSERT_TRUE(check.Open(Path(), error));
        SqliteStatement layout;
        ASSERT_TRUE(layout.Prepare(check,
                                   "SELECT (SELECT user_version FROM pragma_user_version), "
                                   "(SELECT COUNT(*) FROM sqlite_master WHERE name = "
                                   "'passing_by_record'), (SELECT COUNT(*) FROM "
                                   "pragma_table_info('host_line') WHERE name = 'as_bib'), "
                                   "(SELECT began_ms FROM journal_info), (SELECT COUNT(*) FROM "
                                   "sqlite_master WHERE name IN ('passing_by_bib', "
                                   "'passing_by_chip', 'passing_by_race_time'))",
                                   error));
        ASSERT_TRUE(layout.Step());
        EXPECT_EQ(layout.Int(0), kJournalLayout);
        EXPECT_EQ(layout.Int(1), 0);
        EXPECT_EQ(layout.Int(2), 1);
        EXPECT_EQ(layout.Int(3), 0);  // the race began with its first passing
        EXPECT_EQ(layout.Int(4), 3);  // the searches' indexes
    }
}

// A journal that cannot be opened at first opens once the cause has gone: a lock another
// program holds, a full disk; a damaged file is kept aside and a new journal starts.
TEST_F(JournalTest, AJournalOpensOnceWhatStoppedItHasGone) {
    enum class Cause { Locked, Full, Damaged };
    for (Cause cause : {Cause::Locked, Cause::Full, Cause::Damaged}) {
        SCOPED_TRACE(static_cast<int>(cause));
        TempFolder own;
        const std::string path = own.Path() + "/journal.db";
        SqliteDatabase other;
        std::string error;
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        if (cause == Cause::Locked) {
            ASSERT_TRUE(other.Open(path, error));
            ASSERT_TRUE(
                other.Execute("PRAGMA journal_mode=WAL; CREATE TABLE t(x); "
                              "BEGIN EXCLUSIVE; INSERT INTO t VALUES(1);",
                              error))
                << error;
        } else if (cause == Cause::Full) {
            rlimit full = saved;
            full.rlim_cur = 0;
            ::setrlimit(RLIMIT_FSIZE, &full);
        } else {
            test::WriteFile(path, std::string(8192, 'x'));
        }
        Journal journal;
        const bool openedAtOnce = journal.Open(path, error);
        other.Close();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        if (cause == Cause::Damaged) {
            EXPECT_TRUE(openedAtOnce) << error;
            EXPECT_EQ(journal.KeptAsidePath().rfind(path + ".damaged-", 0), 0u);
            EXPECT_EQ(ReadFile(journal.KeptAsidePath()), std::string(8192, 'x'));
        } else {
            EXPECT_FALSE(openedAtOnce);
            EXPECT_FALSE(error.empty());
            ASSERT_TRUE(journal.Open(path, error)) << error;
            EXPECT_TRUE(journal.KeptAsidePath().empty());
        }
        journal.AddHostLine(journal.Add(StoreEntry("L", 1)), "x");
        EXPECT_TRUE(journal.Commit(error)) << error;
    }
}

// Lines marked sent since a moment wait again, the first of them named, the others untouched.
TEST_F(JournalTest, LinesMarkedSentSinceAMomentWaitAgain) {
    Journal journal;
    Open(journal);
    std::string error;
    for (int n = 1; n <= 6; ++n) {
        const std::int64_t seq = journal.AddHostLine(journal.Add(StoreEntry("L", n)), "x");
        if (n <= 5) journal.MarkSent(seq, 1000 * n);
        ASSERT_TRUE(journal.Commit(error)) << error;
    }
    std::int64_t first = 0;
    EXPECT_EQ(journal.UnmarkSentSince(3000, first, error), 3u) << error;
    EXPECT_EQ(first, 3);
    const auto waiting = journal.WaitingLinesFrom(1, 100, error);
    ASSERT_EQ(waiting.size(), 4u);
    EXPECT_EQ(waiting.front().seq, 3);
    EXPECT_EQ(journal.WaitingLineCount(error), 4u);
    EXPECT_EQ(journal.UnmarkSentSince(3000, first, error), 0u);
}

// A search finds passings by bib or chip and by race-time span, with how many were forwarded
// and kept back; each row says what became of its passing.
TEST_F(JournalTest, SearchesFindPassingsAndTheirRowsSayWhatBecameOfThem) {
    Journal journal;
    Open(journal);
    const auto add = [&](int n, const char* bib, const char* raceTime, const char* reason) {
        JournalEntry entry = StoreEntry("Loop1", n);
        entry.bib = bib;
        entry.raceTime = raceTime;
        entry.reason = reason;
        return journal.Add(entry);
    };
    const std::int64_t sent = add(7, "7", "12:00:01.00", "");
    const std::int64_t waiting = add(8, "8", "12:00:02.00", "");
    const std::int64_t resent = add(9, "KV00009", "12:00:03.00", "");  // unknown chip
    add(7, "", "", not_forwarded::kFlowClosed);
    add(10, "", "", not_forwarded::kBadTime);
    const std::int64_t asBib = add(11, "KV00011", "12:00:06.00", "");  // its chip added later
    journal.AddHostLine(sent, "a");
    journal.AddHostLine(asBib, "e");
    journal.MarkSent(journal.AddHostLine(asBib, "f", "111"), 1796733008000);
    journal.MarkSent(journal.AddHostLine(resent, "b"), 1796733009000);
    journal.AddHostLine(waiting, "c");
    journal.AddHostLine(resent, "d");
    std::string error;
    ASSERT_TRUE(journal.Commit(error)) << error;

    JournalRowReader reader;
    ASSERT_TRUE(reader.Open(journal.Path(), error)) << error;
    const struct {
        JournalSearch search;
        std::vector<std::int64_t> ids;
        std::size_t forwarded, held;
    } cases[] = {
        {{"7", "", ""}, {1}, 1, 0},
        {{"KV00007", "", ""}, {1, 4}, 1, 1},
        {{"KV00009", "", ""}, {3}, 1, 0},
        {{"", "12:00:02.00", "12:00:03.99"}, {2, 3}, 2, 0},
        {{"", "12:00:02.50", ""}, {3, 6}, 2, 0},
        {{"", "", "12:00:01.99"}, {1}, 1, 0},
        {{"7", "12:00:02.00", ""}, {}, 0, 0},
        {{"nobody", "", ""}, {}, 0, 0},
        {{"", "", "", true}, {4}, 0, 1},
        {{"KV00007", "", "", true}, {4}, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.search.term + " " + c.search.fromRaceTime + "-" + c.search.toRaceTime);
        const auto keys = reader.Find(c.search, error);
        ASSERT_TRUE(keys) << error;
        EXPECT_EQ(keys->ids, c.ids);
        EXPECT_EQ(keys->forwarded, c.forwarded);
        EXPECT_EQ(keys->heldByClosedFlow, c.held);
    }

    const auto all = reader.Find({}, error);
    ASSERT_TRUE(all);
    EXPECT_FALSE(all->isList);
    ASSERT_EQ(all->Count(), 6u);
    const auto rows = reader.Rows(*all, 0, 10, error);
    ASSERT_EQ(rows.size(), 6u);
    const PassingState states[] = {PassingState::Sent,         PassingState::Waiting,
                                   PassingState::Resend,       PassingState::FlowClosed,
                                   PassingState::NotForwarded, PassingState::SentAsBib};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].id, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(rows[i].state, states[i]) << i;
    }
    EXPECT_EQ(rows[2].firstSentUtcMs, 1796733009000);
    EXPECT_EQ(rows[5].asBib, "111");
    EXPECT_EQ(reader.Rows(*all, 3, 10, error).size(), 3u);
    EXPECT_TRUE(reader.Rows(*all, 6, 10, error).empty());

    JournalRowReader missing;
    EXPECT_FALSE(missing.Open(folder.Path() + "/none.db", error));
    EXPECT_FALSE(missing.Find({}, error));
}

// Passings forwarded under their chip codes are found until a line sends them with a bib;
// those never forwarded, known chips and manual detections are not.
TEST_F(JournalTest, UnknownChipPassingsAreFoundUntilSentAgainWithABib) {
    Journal journal;
    Open(journal);
    const auto add = [&](int n, const std::string& bib, PassingKind kind, bool line) {
        JournalEntry entry = StoreEntry("L", n);
        entry.kind = kind;
        entry.bib = bib.empty() ? entry.chip : bib;
        const std::int64_t id = journal.Add(entry);
        if (line) journal.AddHostLine(id, "x");
        return id;
    };
    const std::int64_t unknown = add(1, "", PassingKind::Store, true);
    add(2, "", PassingKind::Store, false);  // recorded to a DAG file only
    add(3, "103", PassingKind::Store, true);
    add(4, "", PassingKind::Manual, true);
    std::string error;
    ASSERT_TRUE(journal.Commit(error)) << error;
    std::vector<UnknownChipDetection> found;
    ASSERT_TRUE(ReadUnknownChipDetections(Path(), found).done);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].passingId, unknown);
    EXPECT_EQ(found[0].chip, StoreEntry("L", 1).chip);
    EXPECT_EQ(found[0].raceTime, "12:00:00.12");

    journal.AddHostLine(unknown, "AddDagClock(1\tL\t101\t1\t12:00:00.12)", "101");
    ASSERT_TRUE(journal.Commit(error)) << error;
    found.clear();
    ASSERT_TRUE(ReadUnknownChipDetections(Path(), found).done);
    EXPECT_TRUE(found.empty());
}

}  // namespace
}  // namespace torvane
