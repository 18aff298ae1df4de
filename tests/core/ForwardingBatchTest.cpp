#include <gtest/gtest.h>

#include "base/Clock.h"
#include "host/DetectionForwarder.h"
#include "support/CoreHarness.h"
#include "support/LoopbackPeer.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::TcpServer;
using test::WaitUntil;

std::string Command(int bib) {
    return "AddDagClock(1\tLoop1\t" + std::to_string(bib) + "\t1\t12:00:00.00)";
}

// The detections of one MyLaps message go out together, yet exactly as one by one: in order,
// after what is held, and held in order when the host is away.
class ForwardingBatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 12, 0, 0), 0});
        harness.core().LoadGeneralSettings();
    }
    void TearDown() override {
        harness.core().Host().StopHostLink();
        clock::UseSystemClock();
    }
    bool ConnectHost() {
        harness.core().Host().StartHostLink("127.0.0.1", host.Port(), 1);
        return host.WaitForConnection() && WaitUntil([&] {
                   return harness.core().State().hostLinkState == HostLinkState::Connected;
               });
    }
    void ForwardInOneBatch(int firstBib, int count) {
        DetectionForwarder::Batch batch(harness.core().Forwarder());
        for (int bib = firstBib; bib < firstBib + count; ++bib) {
            harness.core().Forwarder().Forward(Command(bib));
        }
    }

    TcpServer host;
    CoreHarness harness;
};

TEST_F(ForwardingBatchTest, ABatchReachesTheHostWholeAndInOrder) {
    ASSERT_TRUE(ConnectHost());
    ForwardInOneBatch(1, 3);
    harness.core().Forwarder().Forward(Command(4));
    ASSERT_TRUE(host.WaitForLines(4));
    EXPECT_EQ(host.Lines(),
              (std::vector<std::string>{Command(1), Command(2), Command(3), Command(4)}));
    EXPECT_EQ(harness.core().Forwarder().HeldCount(), 0u);
}

TEST_F(ForwardingBatchTest, WithoutHostABatchIsHeldAfterWhatWasHeldAndSentFirstOnReturn) {
    harness.core().Forwarder().Forward(Command(1));
    ForwardInOneBatch(2, 2);
    const auto& held = harness.core().Forwarder().Held();
    EXPECT_EQ(std::vector<std::string>(held.begin(), held.end()),
              (std::vector<std::string>{Command(1), Command(2), Command(3)}));

    ASSERT_TRUE(ConnectHost());
    ForwardInOneBatch(4, 1);
    ASSERT_TRUE(host.WaitForLines(4));
    EXPECT_EQ(host.Lines(),
              (std::vector<std::string>{Command(1), Command(2), Command(3), Command(4)}));
    EXPECT_EQ(harness.core().Forwarder().HeldCount(), 0u);
}

}  // namespace
}  // namespace torvane
