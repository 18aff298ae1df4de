#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
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

// Entries in table order, with an index from the ASCII-lower-cased key to the value of the first
// entry with that key. A load fills one aside and puts it in service whole.
class DagTableContent {
public:
    // Appends an entry; keys longer than 63 characters or holding a NUL byte are refused.
    bool Add(const std::string& key, std::int32_t value);
    // The value of the first entry whose key equals `key` ignoring ASCII case.
    std::optional<std::int32_t> Find(const std::string& key) const;
    int Count() const { return static_cast<int>(entries_.size()); }
    const std::vector<CDagItem>& Entries() const { return entries_; }

private:
    std::vector<CDagItem> entries_;
    std::unordered_map<std::string, std::int32_t> firstValueByFoldedKey_;
};

void DagTableEmpty();
// Puts the given entries in service in place of the table's (under the lock).
void DagTableReplace(DagTableContent&& content);
// Appends an entry (the caller holds the lock while loading). Keys longer than 63 are refused.
bool DagTableAdd(const std::string& key, std::int32_t value);
int DagTableCount();
// Copies of the entries in table order, for checks of the whole table.
std::vector<CDagItem> DagTableEntries();
// True and the value of the first entry whose key equals `key` ignoring case. On an empty table
// `value` is left as it was; otherwise it is -1 when nothing matches.
bool DagTableFindValue(const std::string& key, int& value);
// Replaces the table with the entries of a table text file. A file that is refused leaves the
// table as it was: false with the reason, naming the file, in `error`.
bool DagTableLoadFile(const std::string& path, std::string& error);

}  // namespace torvane
