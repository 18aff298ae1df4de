#include "tables/DagTable.h"

#include <cstring>
#include <mutex>

namespace torvane {
namespace {

constexpr std::size_t kMaxKeyLength = sizeof(CDagItem::key) - 1;

// Entries are only appended or replaced all at once, so a look-up in a large table costs no scan
// (and no visit to the entry itself).
DagTableContent& Table() {
    static DagTableContent table;
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

bool DagTableContent::Add(const std::string& key, std::int32_t value) {
    // A key must fit the entry's field and read back as the same text.
    if (key.size() > kMaxKeyLength || key.find('\0') != std::string::npos) return false;
    CDagItem& item = entries_.emplace_back();
    std::memcpy(item.key, key.data(), key.size());
    item.key[key.size()] = '\0';
    item.value = value;
    firstValueByFoldedKey_.try_emplace(FoldAsciiCase(key), value);
    return true;
}

std::optional<std::int32_t> DagTableContent::Find(const std::string& key) const {
    const auto found = firstValueByFoldedKey_.find(FoldAsciiCase(key));
    if (found == firstValueByFoldedKey_.end()) return std::nullopt;
    return found->second;
}

CDagTableLocker::CDagTableLocker() {
    TableMutex().lock();
}

CDagTableLocker::~CDagTableLocker() {
    TableMutex().unlock();
}

void DagTableEmpty() {
    DagTableReplace(DagTableContent());
}

void DagTableReplace(DagTableContent&& content) {
    DagTableContent swapped = std::move(content);
    {
        CDagTableLocker locker;
        std::swap(Table(), swapped);
    }
    // `swapped` now holds the old entries, freed outside the lock.
}

bool DagTableAdd(const std::string& key, std::int32_t value) {
    return Table().Add(key, value);
}

int DagTableCount() {
    CDagTableLocker locker;
    return Table().Count();
}

std::vector<CDagItem> DagTableEntries() {
    CDagTableLocker locker;
    return Table().Entries();
}

bool DagTableFindValue(const std::string& key, int& value) {
    CDagTableLocker locker;
    const DagTableContent& table = Table();
    if (table.Count() == 0) return false;
    const auto found = table.Find(key);
    value = found.value_or(-1);
    return found.has_value();
}

}  // namespace torvane
