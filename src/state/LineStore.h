#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// Text lines kept end to end in blocks of 64 KiB, with a small record of where each line is: a
// line costs its bytes and twelve more, not a string object with a heap block of its own, and
// the list grows without ever copying what it already holds. A line longer than a block gets a
// block of its own size.
class LineStore {
public:
    using value_type = std::string_view;

    static constexpr std::size_t kBlockBytes = 64 * 1024;

    std::size_t size() const { return lines_.size(); }
    bool empty() const { return lines_.empty(); }
    std::string_view operator[](std::size_t index) const;

    void push_back(std::string_view line);
    // Forgets the first `count` lines (all of them when there are fewer) and the blocks that
    // held only those.
    void EraseFront(std::size_t count);
    void clear();

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0;
        std::size_t used = 0;
    };
    struct Place {
        std::uint32_t block;   // index in blocks_
        std::uint32_t offset;  // where the line starts in its block
        std::uint32_t length;
    };

    Block& BlockFor(std::size_t length);

    std::vector<Block> blocks_;
    std::vector<Place> lines_;
};

}  // namespace torvane
