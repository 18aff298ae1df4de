#pragma once

#include <cstdint>
#include <string>

namespace torvane {

// Keeps the journal of a finished race: the file, closed by its owner, becomes one file that
// stands alone (its write-ahead log folded in) and moves to `folder` (made when missing) as
// "Journal-YYYYMMDD-HHMMSS.db", the local time of `stampUtcMs`; a name already taken gets a
// suffix ("-2", "-3"...), so that no kept journal is ever overwritten. False with the reason,
// and the file left where it was, when another connection still holds it or the move fails.
bool KeepJournalFile(const std::string& path, const std::string& folder, std::int64_t stampUtcMs,
                     std::string& keptPath, std::string& error);

// The name a journal kept at that instant takes, before any suffix.
std::string KeptJournalName(std::int64_t stampUtcMs);

}  // namespace torvane
