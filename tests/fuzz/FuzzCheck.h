#pragma once

// Shared by the fuzz targets: a property that fails stops the run with its text, so that
// libFuzzer keeps the input that broke it.

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "Property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace torvane::fuzz {

// Cuts `size` bytes into blocks whose sizes (1 to 64) the bytes of `pattern` give in turn, as a
// network read might; one block when the pattern is empty.
inline std::vector<std::size_t> BlockSizes(const std::string& pattern, std::size_t size) {
    std::vector<std::size_t> blocks;
    if (pattern.empty()) {
        blocks.push_back(size);
        return blocks;
    }
    for (std::size_t at = 0, i = 0; at < size; ++i) {
        const std::size_t block = static_cast<unsigned char>(pattern[i % pattern.size()]) % 64 + 1;
        blocks.push_back(std::min(block, size - at));
        at += blocks.back();
    }
    return blocks;
}

}  // namespace torvane::fuzz
