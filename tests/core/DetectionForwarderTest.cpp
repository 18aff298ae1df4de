#include <gtest/gtest.h>

#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "support/CoreHarness.h"
#include "support/LoopbackPeer.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;
using test::TcpServer;
using test::WaitUntil;

// Passings made while the host is away reach it, in order and once each, when it comes back.
class HeldDetectionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 12, 0, 0), 0});
        harness.core().LoadGeneralSettings();
        harness.core().State().flowOpen = true;
    }
    void TearDown() override { clock::UseSystemClock(); }
    void Pass(const std::string& chip, const std::string& time) {
        harness.core().Processor().ProcessPassing("Loop1", chip, time, "20261208");
    }
    bool ConnectHost() {
        harness.core().Host().StartHostLink("127.0.0.1", host.Port(), 1);
        return host.WaitForConnection() && WaitUntil([&] {
                   return harness.core().State().hostLinkState == HostLinkState::Connected;
               });
    }

    TcpServer host;
    CoreHarness harness;
};

TEST_F(HeldDetectionsTest, HeldDetectionsGoFirstInOrderWhenTheHostComesBack) {
    Pass("AA00001", "12:00:01.000");
    Pass("AA00002", "12:00:02.000");
    Pass("AA00003", "12:00:03.000");
    EXPECT_EQ(harness.core().Forwarder().HeldCount(), 3u);

    ASSERT_TRUE(ConnectHost());
    harness.timers.Advance(300);
    ASSERT_TRUE(host.WaitForLines(10));
    const auto lines = host.Lines();
    EXPECT_EQ(lines[0], "AddDagClock(1\tLoop1\tAA00001\t1\t12:00:01.00)");
    EXPECT_EQ(lines[1], "AddDagClock(1\tLoop1\tAA00002\t1\t12:00:02.00)");
    EXPECT_EQ(lines[2], "AddDagClock(1\tLoop1\tAA00003\t1\t12:00:03.00)");
    EXPECT_EQ(lines[3], "GetMode()");
    EXPECT_EQ(harness.core().Forwarder().HeldCount(), 0u);
    DeliverPosted();
    const auto log = harness.ShownLog();
    EXPECT_NE(
        std::find(log.begin(), log.end(), "+++ 3 détections en attente envoyées à Ostrak Pro"),
        log.end());

    Pass("AA00004", "12:00:04.000");
    ASSERT_TRUE(host.WaitForLines(11));
    EXPECT_EQ(host.Lines()[10], "AddDagClock(1\tLoop1\tAA00004\t1\t12:00:04.00)");
    EXPECT_EQ(host.ReadForLines(100), 11u);
    harness.core().Host().StopHostLink();
}

TEST_F(HeldDetectionsTest, RequestsOtherThanDetectionsAreNotHeld) {
    EXPECT_FALSE(harness.core().Host().SendHostLine("Ping()"));
    EXPECT_EQ(harness.core().Forwarder().HeldCount(), 0u);
}

TEST_F(HeldDetectionsTest, RecordingWithoutTransmissionHoldsNothing) {
    harness.core().Dag().StartRecording(harness.folders.DataFolder() + "/x.dag");
    harness.core().State().alsoTransmit = false;
    Pass("AA00001", "12:00:01.000");
    EXPECT_EQ(harness.core().Forwarder().HeldCount(), 0u);
}

TEST_F(HeldDetectionsTest, TheHoldIsBoundedAndTheDroppedOneIsNamed) {
    auto& forwarder = harness.core().Forwarder();
    for (size_t i = 0; i < DetectionForwarder::kMaxHeld + 1; ++i) {
        forwarder.Forward("AddDagClock(1\tL\t" + std::to_string(i) + "\t1\t00:00:00.00)");
    }
    EXPECT_EQ(forwarder.HeldCount(), DetectionForwarder::kMaxHeld);
    EXPECT_EQ(forwarder.Held().front(), "AddDagClock(1\tL\t1\t1\t00:00:00.00)");
    DeliverPosted();
    const auto log = harness.ShownLog();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "$$$ Trop de détections en attente, la plus ancienne est perdue : "
                        "AddDagClock(1 L 0 1 00:00:00.00)"),
              log.end());
}

}  // namespace
}  // namespace torvane
