#include <gtest/gtest.h>

#include "app/ActivityLists.h"
#include "base/NamedLock.h"
#include "core/HostTestAnswers.h"
#include "host/HostAnswerHandler.h"
#include "support/CoreHarness.h"

namespace torvane {
namespace {

using test::AcceptedRunnerFields;
using test::DeliverPosted;
using test::IsolatedFolders;
using test::ResultAnswer;

// Results of a burst are added under the named lock "Summary", which another holder of that name
// can take again as soon as the waiting messages have been handled.
TEST(SummaryLockTest, ABurstOfResultsHoldsTheLockUntilThePostedMessagesAreHandled) {
    IsolatedFolders folders;
    SummaryListModel summary;
    CResourceMutex other("Summary");
    {
        HostAnswerHandler answers(summary);
        for (int i = 0; i < 3; ++i) answers.OnHostLine(ResultAnswer(AcceptedRunnerFields()));
        EXPECT_EQ(summary.Count(), 3);
        EXPECT_TRUE(answers.HoldsSummaryLock());
        EXPECT_FALSE(other.Lock(0));

        DeliverPosted();
        EXPECT_FALSE(answers.HoldsSummaryLock());
        ASSERT_TRUE(other.Lock(0));
        other.Unlock();

        // The next burst takes it again.
        answers.OnHostLine(ResultAnswer(AcceptedRunnerFields()));
        EXPECT_TRUE(answers.HoldsSummaryLock());
    }
    // A handler that goes away lets the lock go with it.
    EXPECT_TRUE(other.Lock(0));
    other.Unlock();
}

}  // namespace
}  // namespace torvane
