#include "journal/RecordIndex.h"

namespace torvane {
namespace {

constexpr std::size_t kFirstSlots = 1024;

}  // namespace

void RecordIndex::Add(std::int64_t key, std::int64_t id) {
    if ((size_ + 1) * 10 > slots_.size() * 7) Grow();
    Insert(Stored(key), id);
    ++size_;
}

void RecordIndex::Clear() {
    std::vector<Slot>().swap(slots_);
    size_ = 0;
}

void RecordIndex::Insert(std::uint64_t stored, std::int64_t id) {
    std::size_t at = Home(stored);
    while (slots_[at].key != 0) at = (at + 1) & (slots_.size() - 1);
    slots_[at] = {stored, id};
}

void RecordIndex::Grow() {
    std::vector<Slot> old(slots_.empty() ? kFirstSlots : slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
        if (slot.key != 0) Insert(slot.key, slot.id);
    }
}

}  // namespace torvane
