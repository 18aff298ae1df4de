#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/Clock.h"
#include "journal/Journal.h"
#include "journal/JournalExport.h"
#include "journal/JournalKeeping.h"
#include "support/TempFolder.h"

namespace torvane {
namespace {

using test::ReadFile;

bool Exists(const std::string& path) {
    struct stat file {};
    return ::stat(path.c_str(), &file) == 0;
}

JournalEntry StoreEntry(int n) {
    JournalEntry entry;
    entry.source = "L";
    entry.record = "KV0000" + std::to_string(n) + "12:00:00.123";
    entry.receivedUtcMs = 1796733000000 + n;
    entry.chip = entry.record.substr(0, 7);
    entry.bib = std::to_string(n);
    entry.raceTime = "12:00:00.12";
    return entry;
}

class JournalKeepingTest : public ::testing::Test {
protected:
    std::string Path() const { return folder.Path() + "/journal.db"; }
    void Open(Journal& journal) {
        std::string error;
        ASSERT_TRUE(journal.Open(Path(), error)) << error;
    }
    test::TempFolder folder;
};

// A kept journal stands alone under the time of its first passing; a name already taken gets a
// suffix, and a journal another connection reads stays where it is.
TEST_F(JournalKeepingTest, AKeptJournalStandsAloneAndNeverReplacesAnother) {
    const std::string folder = this->folder.Path() + "/Journals";
    const std::int64_t stamp = StoreEntry(1).receivedUtcMs;
    for (const char* expected : {".db", "-2.db", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(expected ? expected : "read meanwhile");
        {
            Journal journal;
            Open(journal);
            journal.AddHostLine(journal.Add(StoreEntry(1)), "x");
            std::string error;
            ASSERT_TRUE(journal.Commit(error)) << error;
        }
        SqliteDatabase reader;
        std::string error, kept;
        if (!expected) {
            ASSERT_TRUE(reader.OpenReadOnly(Path(), 0, error)) << error;
            ASSERT_TRUE(reader.Execute("BEGIN; SELECT * FROM passing;", error)) << error;
        }
        const bool moved = KeepJournalFile(Path(), folder, stamp, kept, error);
        ASSERT_EQ(moved, expected != nullptr) << error;
        if (!expected) {
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(ReadFile(Path()).substr(0, 15), "SQLite format 3");
            continue;
        }
        EXPECT_EQ(kept, folder + "/" + KeptJournalName(stamp) + expected);
        EXPECT_FALSE(Exists(Path()));
        EXPECT_FALSE(Exists(kept + "-wal"));
        JournalSummary summary;
        ASSERT_TRUE(ReadJournalSummary(kept, summary).done);
        EXPECT_EQ(summary.passings, 1);
        EXPECT_EQ(summary.firstReceivedUtcMs, stamp);
        EXPECT_FALSE(Exists(kept + "-shm"));  // read without writing beside it
    }
    EXPECT_EQ(KeptJournalName(clock::MakeLocal(2026, 12, 8, 9, 5, 7) * 1000),
              "Journal-20261208-090507");
}

}  // namespace
}  // namespace torvane
