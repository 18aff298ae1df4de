#include "tables/DagTable.h"

#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace torvane {
namespace {

constexpr std::size_t kMaxKeyLength = sizeof(CDagItem::key) - 1;

// Entries in file order, and an index from the ASCII-lower-cased key to the value of the first
// entry with that key, so a look-up in a large table costs no scan (and, entries being only
// appended or emptied all at once, no visit to the entry itself).
struct DagTableState {
    std::vector<CDagItem> entries;
    std::unordered_map<std::string, std::int32_t> firstValueByFoldedKey;
};

DagTableState& Table() {
    static DagTableState table;
    return table;
}

// Recursive like the platform's critical section: a thread that holds the lock may call
// the operations that take it.
std::recursive_mutex& TableMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

std::string FoldAsciiCase(const std::string& text) {
    std::string folded = text;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

}  // namespace

CDagTableLocker::CDagTableLocker() {
    TableMutex().lock();
}

CDagTableLocker::~CDagTableLocker() {
    TableMutex().unlock();
}

void DagTableEmpty() {
    CDagTableLocker locker;
    DagTableState& table = Table();
    std::vector<CDagItem>().swap(table.entries);
    table.firstValueByFoldedKey.clear();
}

bool DagTableAdd(const std::string& key, std::int32_t value) {
    // A key must fit the entry's field and read back as the same text.
    if (key.size() > kMaxKeyLength || key.find('\0') != std::string::npos) return false;
    DagTableState& table = Table();
    CDagItem& item = table.entries.emplace_back();
    std::memcpy(item.key, key.data(), key.size());
    item.key[key.size()] = '\0';
    item.value = value;
    table.firstValueByFoldedKey.try_emplace(FoldAsciiCase(key), value);
    return true;
}

int DagTableCount() {
    CDagTableLocker locker;
    return static_cast<int>(Table().entries.size());
}

std::vector<CDagItem> DagTableEntries() {
    CDagTableLocker locker;
    return Table().entries;
}

bool DagTableFindValue(const std::string& key, int& value) {
    CDagTableLocker locker;
    const DagTableState& table = Table();
    if (table.entries.empty()) return false;
    value = -1;
    const auto found = table.firstValueByFoldedKey.find(FoldAsciiCase(key));
    if (found == table.firstValueByFoldedKey.end()) return false;
    value = found->second;
    return true;
}

}  // namespace torvane
