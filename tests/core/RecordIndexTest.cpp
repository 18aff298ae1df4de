#include "journal/RecordIndex.h"

#include <gtest/gtest.h>

#include <vector>

namespace torvane {
namespace {

std::vector<std::int64_t> IdsUnder(const RecordIndex& index, std::int64_t key) {
    std::vector<std::int64_t> ids;
    index.AnyOf(key, [&](std::int64_t id) {
        ids.push_back(id);
        return false;  // look at every one
    });
    return ids;
}

// Keys that collide keep every passing they name, and the caller's check decides; a key of 0
// (the empty slot's mark) is kept like any other.
TEST(RecordIndexTest, EveryPassingOfAKeyIsOfferedUntilOneMatches) {
    RecordIndex index;
    index.Add(5, 1);
    index.Add(5, 2);
    index.Add(0, 3);
    index.Add(-7, 4);
    EXPECT_EQ(IdsUnder(index, 5), (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(IdsUnder(index, -7), (std::vector<std::int64_t>{4}));
    EXPECT_TRUE(IdsUnder(index, 6).empty());
    // 0 is stored as 1: both keys are offered the passing, and its text tells them apart.
    EXPECT_EQ(IdsUnder(index, 0), (std::vector<std::int64_t>{3}));
    EXPECT_EQ(IdsUnder(index, 1), (std::vector<std::int64_t>{3}));
    EXPECT_TRUE(index.AnyOf(5, [](std::int64_t id) { return id == 2; }));
    EXPECT_FALSE(index.AnyOf(5, [](std::int64_t id) { return id == 3; }));
}

TEST(RecordIndexTest, GrowingKeepsEveryPassing) {
    RecordIndex index;
    constexpr std::int64_t kPassings = 50000;
    for (std::int64_t id = 1; id <= kPassings; ++id) index.Add(id * 7919 % 100003, id);
    EXPECT_EQ(index.Size(), static_cast<std::size_t>(kPassings));
    for (std::int64_t id = 1; id <= kPassings; id += 997) {
        EXPECT_TRUE(index.AnyOf(id * 7919 % 100003, [&](std::int64_t found) { return found == id; }))
            << id;
    }
    index.Clear();
    EXPECT_TRUE(IdsUnder(index, 7919).empty());
}

}  // namespace
}  // namespace torvane
