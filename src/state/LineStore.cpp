#include "state/LineStore.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace torvane {

std::string_view LineStore::operator[](std::size_t index) const {
    const Place& place = lines_[index];
    return {blocks_[place.block].bytes.get() + place.offset, place.length};
}

LineStore::Block& LineStore::BlockFor(std::size_t length) {
    if (!blocks_.empty()) {
        Block& last = blocks_.back();
        if (last.capacity - last.used >= length) return last;
    }
    Block block;
    block.capacity = std::max(kBlockBytes, length);
    block.bytes = std::make_unique_for_overwrite<char[]>(block.capacity);
    blocks_.push_back(std::move(block));
    return blocks_.back();
}

void LineStore::push_back(std::string_view line) {
    // A single line of 4 GiB or more is cut there; nothing that reaches a list comes near it.
    const std::size_t length =
        std::min<std::size_t>(line.size(), std::numeric_limits<std::uint32_t>::max());
    Block& block = BlockFor(length);
    if (length > 0) std::memcpy(block.bytes.get() + block.used, line.data(), length);
    lines_.push_back({static_cast<std::uint32_t>(&block - blocks_.data()),
                      static_cast<std::uint32_t>(block.used), static_cast<std::uint32_t>(length)});
    block.used += length;
}

void LineStore::EraseFront(std::size_t count) {
    count = std::min(count, lines_.size());
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(count));
    if (lines_.empty()) {
        clear();
        return;
    }
    const std::uint32_t unused = lines_.front().block;
    if (unused == 0) return;
    blocks_.erase(blocks_.begin(), blocks_.begin() + unused);
    for (Place& place : lines_) place.block -= unused;
}

void LineStore::clear() {
    blocks_.clear();
    std::vector<Place>().swap(lines_);
}

}  // namespace torvane
