#include <gtest/gtest.h>

#include <algorithm>

#include "app/OperatorCommands.h"
#include "base/Clock.h"
#include "base/PostedMessage.h"
#include "base/SettingsStore.h"
#include "host/LinkSupervisor.h"
#include "net/MyLapsMessage.h"
#include "support/CoreHarness.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;

std::string Store(int chip, int token) {
    return "Loop2@Store@KV0000" + std::to_string(chip) + "12:00:00.000            261208@" +
           std::to_string(token) + "@";
}

// The watchdog as the program runs it: passings and connections posted to a whole core, the
// settable clock moved on, and the half-second timer that looks.
class SourceActivityTest : public ::testing::Test {
protected:
    void Start(int silenceMinutes, bool flowOpen) {
        clock::SetNowForTesting({clock::MakeLocal(2026, 12, 8, 12, 0, 0), 0});
        WriteIniInt("MyLaps", "SilenceMinutes", silenceMinutes);
        harness.core().LoadGeneralSettings();
        harness.core().State().flowOpen = flowOpen;
        harness.core().StartRaceDayTimer();
    }
    void TearDown() override { clock::UseSystemClock(); }

    void Connect(bool up) {
        PostToTarget(WM_MYLAPS_CONNECTION, up ? 1 : 0,
                     std::make_unique<ConnectionPayload>(kConnection, "192.168.1.30"));
        DeliverPosted();
    }
    void Passing() {
        ++token;
        PostToTarget(WM_MYLAPS_MESSAGE, 0,
                     std::make_unique<MyLapsMessage>(kConnection, Store(token % 10, token)));
        DeliverPosted();
    }
    void Wait(long long ms) {
        for (long long done = 0; done < ms; done += 500) {
            clock::AdvanceByForTesting(500);
            harness.timers.Advance(500);
        }
    }
    long Shown(const std::string& start) {
        DeliverPosted();
        const auto log = harness.ShownLog();
        return std::count_if(log.begin(), log.end(),
                             [&](const std::string& line) { return line.rfind(start, 0) == 0; });
    }
    bool Silent() { return !harness.core().Activity().SilentNames().empty(); }

    static constexpr ConnectionId kConnection = 7;
    CoreHarness harness;
    int token = 0;
};

TEST_F(SourceActivityTest, AQuietSourceIsToldOnceThenItsReturn) {
    Start(2, true);
    Connect(true);
    Passing();
    Wait(119'000);
    EXPECT_FALSE(Silent());
    Wait(2'000);
    ASSERT_TRUE(Silent());
    Wait(60'000);
    EXPECT_EQ(Shown("$$$ La source MyLaps Loop2 n'a envoyé aucun passage depuis 2 minutes"), 1);
    ASSERT_EQ(harness.status.balloons.size(), 1u);
    EXPECT_EQ(harness.status.balloons[0].iconId, LinkSupervisor::kWarningIcon);
    EXPECT_EQ(harness.status.sounds.back(), LinkSupervisor::kDisconnectionSound);
    EXPECT_NE(StatusText(harness.core()).find("\nSource silencieuse : Loop2"), std::string::npos);

    Passing();
    EXPECT_FALSE(Silent());
    EXPECT_EQ(Shown("+++ La source MyLaps Loop2 envoie de nouveau des passages"), 1);
    EXPECT_EQ(StatusText(harness.core()).find("Source silencieuse"), std::string::npos);
}

struct QuietCase {
    const char* name;
    int silenceMinutes;
    bool flowOpen;
    bool disconnect;   // the source leaves after its passing
    long long waitMs;  // then this long passes
    bool reconnect;    // and it comes back before the look that follows
    bool silent;
};

void PrintTo(const QuietCase& c, std::ostream* out) {
    *out << c.name;
}

class QuietSourceTest : public SourceActivityTest,
                        public ::testing::WithParamInterface<QuietCase> {};

TEST_P(QuietSourceTest, IsSilentOnlyWhenTheFlowIsOpenAndTheWaitIsOver) {
    const QuietCase& c = GetParam();
    Start(c.silenceMinutes, c.flowOpen);
    Connect(true);
    Passing();
    if (c.disconnect) Connect(false);
    Wait(c.waitMs);
    if (c.reconnect) Connect(true);
    Wait(500);
    EXPECT_EQ(Silent(), c.silent);
    EXPECT_EQ(Shown("$$$ La source MyLaps Loop2"), c.silent ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QuietSourceTest,
    ::testing::Values(QuietCase{"ClosedFlowNeverSilent", 2, false, false, 600'000, false, false},
                      QuietCase{"WatchdogOff", 0, true, false, 600'000, false, false},
                      QuietCase{"GoneForThirtySeconds", 10, true, true, 30'500, false, true},
                      QuietCase{"BackWithinThirtySeconds", 10, true, true, 25'000, true, false},
                      QuietCase{"GoneWhileClosed", 10, false, true, 60'000, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SourceActivityTest, CountsEachMinuteOfTheLastHalfHourUnderTheSourcesName) {
    Start(10, true);
    Connect(true);
    Passing();
    Passing();
    Wait(120'000);
    Passing();
    auto sources = harness.core().Activity().Snapshot(clock::NowMs());
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0].name, "Loop2");
    EXPECT_EQ(sources[0].address, "192.168.1.30");
    EXPECT_EQ(sources[0].passings, 3u);
    EXPECT_EQ(sources[0].lastPassingMs, clock::NowMs());
    EXPECT_EQ(sources[0].perMinute[29], 1u);
    EXPECT_EQ(sources[0].perMinute[27], 2u);

    // A reconnection from the same address keeps the row; old minutes roll out of the window.
    Connect(false);
    Connect(true);
    Passing();
    clock::AdvanceByForTesting(31 * 60'000);
    sources = harness.core().Activity().Snapshot(clock::NowMs());
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_TRUE(sources[0].connected);
    EXPECT_EQ(sources[0].passings, 4u);
    EXPECT_TRUE(std::all_of(sources[0].perMinute.begin(), sources[0].perMinute.end(),
                            [](auto n) { return n == 0; }));
}

}  // namespace
}  // namespace torvane
