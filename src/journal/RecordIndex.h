#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace torvane {

// The journaled records by the 64-bit key of their source and text: an open-addressed table of
// (key, passing id) pairs, 16 bytes a slot. Held in memory so that telling a new passing from a
// resend costs no disk access, and the journal on disk needs no index in random order, whose
// every commit would rewrite pages all over the file.
class RecordIndex {
public:
    void Add(std::int64_t key, std::int64_t id);
    void Clear();
    std::size_t Size() const { return size_; }

    // Calls matches(id) for each passing stored under the key until one returns true; whether
    // one did. Several passings share a key only when their hashes collide.
    template <typename Matches>
    bool AnyOf(std::int64_t key, Matches matches) const {
        if (slots_.empty()) return false;
        const std::uint64_t stored = Stored(key);
        for (std::size_t at = Home(stored);; at = (at + 1) & (slots_.size() - 1)) {
            const Slot& slot = slots_[at];
            if (slot.key == 0) return false;
            if (slot.key == stored && matches(slot.id)) return true;
        }
    }

private:
    struct Slot {
        std::uint64_t key = 0;  // 0: empty
        std::int64_t id = 0;
    };

    // 0 marks an empty slot, so a key of 0 is kept as 1 (a collision like any other).
    static std::uint64_t Stored(std::int64_t key) {
        const auto value = static_cast<std::uint64_t>(key);
        return value == 0 ? 1 : value;
    }
    std::size_t Home(std::uint64_t stored) const {
        return static_cast<std::size_t>(stored * 0x9E3779B97F4A7C15ull) & (slots_.size() - 1);
    }
    void Grow();
    void Insert(std::uint64_t stored, std::int64_t id);

    std::vector<Slot> slots_;  // a power of two in size, at most 70 % full
    std::size_t size_ = 0;
};

}  // namespace torvane
