#include <gtest/gtest.h>

#include "widgets/MonitorBounds.h"

namespace torvane {
namespace {

struct PlacementCase {
    const char* name;
    QRect window;
    QRect monitors;
    QRect expected;
};

class KeepOnMonitorsTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(KeepOnMonitorsTest, KeepsTheWindowReachable) {
    const PlacementCase& c = GetParam();
    EXPECT_EQ(KeepOnMonitors(c.window, c.monitors), c.expected);
}

const QRect kOneScreen(0, 0, 1920, 1080);
// Two monitors side by side, the second one lower: their bounding rectangle.
const QRect kTwoScreens(-1280, 0, 3200, 1200);

INSTANTIATE_TEST_SUITE_P(
    Cases, KeepOnMonitorsTest,
    ::testing::Values(
        PlacementCase{"Inside", QRect(100, 100, 840, 460), kOneScreen, QRect(100, 100, 840, 460)},
        PlacementCase{"FullyOffRight", QRect(3000, 200, 840, 460), kOneScreen,
                      QRect(15, 15, 840, 460)},
        PlacementCase{"FullyOffLeftAndAbove", QRect(-2000, -900, 840, 460), kOneScreen,
                      QRect(15, 15, 840, 460)},
        PlacementCase{"InTheMarginOnly", QRect(1916, 300, 840, 460), kOneScreen,
                      QRect(15, 15, 840, 460)},
        PlacementCase{"Above", QRect(300, -200, 840, 460), kOneScreen, QRect(300, 5, 840, 460)},
        PlacementCase{"Left", QRect(-300, 200, 840, 460), kOneScreen, QRect(5, 200, 840, 460)},
        PlacementCase{"AboveAndLeft", QRect(-300, -200, 840, 460), kOneScreen,
                      QRect(5, 5, 840, 460)},
        PlacementCase{"PastRightAndBottomStays", QRect(1500, 900, 840, 460), kOneScreen,
                      QRect(1500, 900, 840, 460)},
        PlacementCase{"OnTheLeftMonitor", QRect(-1000, 100, 840, 460), kTwoScreens,
                      QRect(-1000, 100, 840, 460)},
        PlacementCase{"LeftOfTheLeftMonitor", QRect(-1400, 100, 840, 460), kTwoScreens,
                      QRect(-1275, 100, 840, 460)},
        PlacementCase{"OffBothMonitors", QRect(-5000, 100, 840, 460), kTwoScreens,
                      QRect(-1265, 15, 840, 460)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AllMonitorsBoundsTest, CoversEveryScreen) {
    const QRect bounds = AllMonitorsBounds();
    EXPECT_FALSE(bounds.isEmpty());
}

}  // namespace
}  // namespace torvane
