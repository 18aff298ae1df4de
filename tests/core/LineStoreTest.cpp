#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/LineStore.h"

namespace torvane {
namespace {

constexpr std::size_t kBlock = LineStore::kBlockBytes;

std::vector<std::string> Contents(const LineStore& store) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < store.size(); ++i) lines.emplace_back(store[i]);
    return lines;
}

// Lines of every length come back byte for byte, whatever block they landed in.
TEST(LineStoreTest, LinesOfEveryLengthComeBackWhole) {
    const std::vector<std::string> lines = {
        "",
        "12:00:01.00    KV00001   n°001",
        std::string("with\0nul", 8),
        std::string(kBlock - 10, 'a'),  // leaves ten bytes in its block
        std::string(11, 'b'),           // does not fit there: starts a new block
        std::string(kBlock, 'c'),       // exactly one block
        std::string(3 * kBlock + 5, 'd'),
        "after the long ones",
    };
    LineStore store;
    for (const std::string& line : lines) store.push_back(line);
    EXPECT_EQ(store.size(), lines.size());
    EXPECT_EQ(Contents(store), lines);
}

TEST(LineStoreTest, ErasingTheFrontKeepsTheRestAndAcceptsMore) {
    struct Case {
        std::size_t lineBytes;
        std::size_t count;
        std::size_t erased;
    } cases[] = {
        {30, 10, 3},             // inside one block
        {1000, 400, 200},        // the first blocks go, the rest is renumbered
        {kBlock / 2 + 1, 6, 5},  // one line a block
        {30, 10, 10},            // everything
        {30, 10, 20},            // more than there is
    };
    for (const Case& c : cases) {
        LineStore store;
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < c.count; ++i) {
            std::string line = std::to_string(i) + ":";
            line.resize(c.lineBytes, static_cast<char>('a' + i % 26));
            store.push_back(line);
            expected.push_back(line);
        }
        store.EraseFront(c.erased);
        expected.erase(expected.begin(), expected.begin() + std::min(c.erased, c.count));
        store.push_back("appended");
        expected.push_back("appended");
        EXPECT_EQ(Contents(store), expected) << c.lineBytes << " " << c.count << " " << c.erased;
    }
}

TEST(LineStoreTest, ClearEmptiesTheStore) {
    LineStore store;
    store.push_back("one");
    store.push_back(std::string(2 * kBlock, 'x'));
    store.clear();
    EXPECT_TRUE(store.empty());
    store.push_back("two");
    EXPECT_EQ(Contents(store), std::vector<std::string>{"two"});
}

}  // namespace
}  // namespace torvane
