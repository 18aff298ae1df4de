#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The process-wide translation table: chip identifiers (keys) to bib numbers (values), in file
// order, first match wins, keys compared ignoring ASCII letter case.
namespace torvane {

struct CDagItem {
    virtual ~CDagItem() = default;
    char key[64] = {};  // at most 63 characters
    std::int32_t value = 0;
};

// Scope guard of the table lock.
class CDagTableLocker {
public:
    CDagTableLocker();
    virtual ~CDagTableLocker();
    CDagTableLocker(const CDagTableLocker&) = delete;
    CDagTableLocker& operator=(const CDagTableLocker&) = delete;
};

void DagTableEmpty();
// Appends an entry (the caller holds the lock while loading). Keys longer than 63 are refused.
bool DagTableAdd(const std::string& key, std::int32_t value);
int DagTableCount();
// Copies of the entries in table order, for checks of the whole table.
std::vector<CDagItem> DagTableEntries();
// True and the value of the first entry whose key equals `key` ignoring case. On an empty table
// `value` is left as it was; otherwise it is -1 when nothing matches.
bool DagTableFindValue(const std::string& key, int& value);
// Empties the table and fills it from a table text file; false with `error` set on failure.
bool DagTableLoadFile(const std::string& path, std::string& error);

}  // namespace torvane
