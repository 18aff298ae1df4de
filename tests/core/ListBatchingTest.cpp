#include <gtest/gtest.h>

#include "state/ActivityLists.h"

namespace torvane {
namespace {

// A short list shows new rows within 50 ms; a long one waits longer between batches, as its
// view lays out every row again for each, but never more than a second.
TEST(ListBatchingTest, TheWaitBetweenBatchesGrowsWithTheShownRowsUpToOneSecond) {
    struct Case {
        int shownRows;
        int lowestMs;
        int highestMs;
    } cases[] = {
        {0, 50, 50}, {8000, 50, 50}, {100000, 50, 50}, {1000000, 400, 600}, {3000000, 1000, 1000},
    };
    TextListModel list;
    int previousMs = 0;
    for (const Case& c : cases) {
        while (list.Count() < c.shownRows) list.Append("12:00:01.00    KV00001   n°001");
        list.Flush();
        ASSERT_EQ(list.rowCount(), c.shownRows);
        EXPECT_GE(list.FlushIntervalMs(), c.lowestMs) << c.shownRows;
        EXPECT_LE(list.FlushIntervalMs(), c.highestMs) << c.shownRows;
        EXPECT_GE(list.FlushIntervalMs(), previousMs) << c.shownRows;
        previousMs = list.FlushIntervalMs();
    }
    list.Clear();
    EXPECT_EQ(list.FlushIntervalMs(), 50);
}

}  // namespace
}  // namespace torvane
