#include "journal/JournalKeeping.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/Clock.h"
#include "base/Texts.h"
#include "journal/SentMarkFile.h"
#include "journal/SqliteDatabase.h"

namespace torvane {
namespace {

constexpr int kMaxSuffix = 1000;

bool Exists(const std::string& path) {
    struct stat file {};
    return ::stat(path.c_str(), &file) == 0;
}

// Folds the write-ahead log into the file and leaves it in rollback mode, so that it opens
// read-only with nothing beside it. SQLite refuses while another connection holds the file.
bool MakeStandAlone(const std::string& path, std::string& error) {
    SqliteDatabase database;
    if (!database.Open(path, error)) return false;
    SqliteStatement mode;
    if (!mode.Prepare(database, "PRAGMA journal_mode=DELETE", error)) return false;
    const bool stepped = mode.Step();
    const std::string now = stepped ? mode.Text(0) : std::string();
    if (mode.Failed() || now != "delete") {
        error = mode.Failed() ? database.LastError()
                              : Tr("another program is reading it", "un autre programme le lit");
        return false;
    }
    return true;
}

}  // namespace

std::string KeptJournalName(std::int64_t stampUtcMs) {
    return clock::LocalTimeText(stampUtcMs, "Journal-%Y%m%d-%H%M%S");
}

bool KeepJournalFile(const std::string& path, const std::string& folder, std::int64_t stampUtcMs,
                     std::string& keptPath, std::string& error) {
    if (!MakeStandAlone(path, error)) return false;
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = Format("%s: %s", folder.c_str(), std::strerror(errno));
        return false;
    }
    const std::string stem = folder + "/" + KeptJournalName(stampUtcMs);
    keptPath = stem + ".db";
    for (int suffix = 2; Exists(keptPath); ++suffix) {
        if (suffix > kMaxSuffix) {
            error = Format("%s: %s", keptPath.c_str(), std::strerror(EEXIST));
            return false;
        }
        keptPath = Format("%s-%d.db", stem.c_str(), suffix);
    }
    // A hard link never replaces a file that another program made meanwhile; a file system
    // without links (a USB stick's) gets a rename to the name found free.
    const bool linked = ::link(path.c_str(), keptPath.c_str()) == 0;
    if (!linked && errno == EEXIST) {
        error = Format("%s: %s", keptPath.c_str(), std::strerror(errno));
        return false;
    }
    if (linked ? std::remove(path.c_str()) != 0
               : std::rename(path.c_str(), keptPath.c_str()) != 0) {
        error = Format("%s: %s", keptPath.c_str(), std::strerror(errno));
        return false;
    }
    // The note of sent lines belongs to the journal kept; the next one starts without it.
    std::remove((path + SentMarkFile::kSuffix).c_str());
    return true;
}

}  // namespace torvane
