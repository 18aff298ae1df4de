#pragma once

#include <string>

namespace torvane {

class SqliteDatabase;

// The layout this program writes, kept in the file as PRAGMA user_version. Layout 3 added the
// reason a passing was not forwarded and looks resends up among forwarded passings only. Layout 4
// added the bib a line sent an unknown chip's passing again with (host_line.as_bib) and when the
// race of the journal began (journal_info); layout 5 the indexes of the searches by bib, chip and
// race time.
inline constexpr int kJournalLayout = 5;

// Creates the tables of a new journal, or brings a file of an earlier layout up to date in one
// transaction; false with the reason (a file of a later layout is refused, never changed).
bool PrepareJournalLayout(SqliteDatabase& database, std::string& error);

}  // namespace torvane
