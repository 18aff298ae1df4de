#include <gtest/gtest.h>

#include <QCoreApplication>
#include <thread>
#include <vector>

#include "base/PostedMessage.h"
#include "support/CoreHarness.h"

namespace torvane {
namespace {

using test::DeliverPosted;

// Records the ids it receives; the handler of `nestAt` posts `postedInside` and runs a nested
// event loop, as a modal question would.
class NestingTarget : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() != PostedMessageEvent::Type()) return QObject::event(event);
        const int id = static_cast<PostedMessageEvent*>(event)->id;
        ids.push_back(id);
        if (id == nestAt) {
            PostToTarget(postedInside, 0);
            QCoreApplication::processEvents();
        }
        return true;
    }
    std::vector<int> ids;
    int nestAt = 0;
    int postedInside = 0;
};

TEST(PostedMessageOrderTest, MessagesArriveInPostingOrderEvenThroughANestedEventLoop) {
    NestingTarget target;
    target.nestAt = 1;
    target.postedInside = 4;
    SetMessageTarget(&target);
    for (int id : {1, 2, 3}) ASSERT_TRUE(PostToTarget(id, 0));
    DeliverPosted();
    EXPECT_EQ(target.ids, (std::vector<int>{1, 2, 3, 4}));
    SetMessageTarget(nullptr);
}

TEST(PostedMessageOrderTest, EachThreadsMessagesKeepTheirOrderAndNoneIsLost) {
    NestingTarget target;
    SetMessageTarget(&target);
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) PostToTarget(t * kEach + i + 1, 0);
        });
    }
    for (std::thread& thread : threads) thread.join();
    DeliverPosted();
    ASSERT_EQ(target.ids.size(), static_cast<size_t>(kThreads * kEach));
    std::vector<int> last(kThreads, 0);
    for (int id : target.ids) {
        const int thread = (id - 1) / kEach;
        EXPECT_GT(id, last[static_cast<size_t>(thread)]);
        last[static_cast<size_t>(thread)] = id;
    }
    SetMessageTarget(nullptr);
}

TEST(PostedMessageOrderTest, MessagesWaitingForAnOldTargetAreDropped) {
    NestingTarget first;
    NestingTarget second;
    SetMessageTarget(&first);
    ASSERT_TRUE(PostToTarget(7, 0, std::make_unique<TextPayload>("dropped")));
    SetMessageTarget(&second);
    ASSERT_TRUE(PostToTarget(8, 0));
    DeliverPosted();
    EXPECT_TRUE(first.ids.empty());
    EXPECT_EQ(second.ids, std::vector<int>{8});
    SetMessageTarget(nullptr);
    EXPECT_FALSE(PostToTarget(9, 0));
}

}  // namespace
}  // namespace torvane
