#include <gtest/gtest.h>

#include <QListView>
#include <QPushButton>

#include "ui/ActivityTestPorts.h"
#include "widgets/ResizeShares.h"

namespace torvane {
namespace {

struct SharesCase {
    const char* name;
    ResizeShares shares;
    QRect expected;  // of QRect(10, 20, 100, 50) grown by dx 40, dy 30
};

class ApplyResizeSharesTest : public ::testing::TestWithParam<SharesCase> {};

TEST_P(ApplyResizeSharesTest, MovesAndGrowsByTheShares) {
    const SharesCase& c = GetParam();
    EXPECT_EQ(ApplyResizeShares(QRect(10, 20, 100, 50), c.shares, 40, 30), c.expected);
    EXPECT_EQ(ApplyResizeShares(QRect(10, 20, 100, 50), c.shares, 0, 0), QRect(10, 20, 100, 50));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplyResizeSharesTest,
    ::testing::Values(SharesCase{"FollowBottomRight", kFollowBottomRight, QRect(50, 50, 100, 50)},
                      SharesCase{"FollowRightEdge", kFollowRightEdge, QRect(50, 20, 100, 50)},
                      SharesCase{"Fixed", kKeepPlaceAndSize, QRect(10, 20, 100, 50)},
                      SharesCase{"WidenOnly", kWidenOnly, QRect(10, 20, 140, 50)},
                      SharesCase{"WidenAndGrow", kWidenAndGrow, QRect(10, 20, 140, 80)},
                      SharesCase{"FollowBottomEdge", kFollowBottomEdge, QRect(10, 50, 100, 50)},
                      SharesCase{"HalfAndHalf", ResizeShares{50, 50, 50, 50},
                                 QRect(30, 35, 100, 50)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SharesFromPositionTest, FollowsWhereTheControlSits) {
    const struct {
        QRect control;
        ResizeShares expected;
    } cases[] = {
        {QRect(100, 0, 500, 10), kWidenOnly},         // covers the middle third
        {QRect(300, 0, 300, 10), kWidenOnly},         // left at one third, right at two thirds
        {QRect(301, 0, 400, 10), kKeepPlaceAndSize},  // starts after one third, ends before 80 %
        {QRect(0, 0, 720, 10), kWidenOnly},          {QRect(10, 0, 100, 10), kKeepPlaceAndSize},
        {QRect(600, 0, 120, 10), kKeepPlaceAndSize},  // right edge exactly at 80 %
        {QRect(600, 0, 121, 10), kFollowRightEdge},  {QRect(800, 0, 80, 10), kFollowRightEdge},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SharesFromPosition(c.control, 900), c.expected)
            << c.control.x() << "+" << c.control.width();
    }
}

TEST(ActivityWindowResizeTest, ControlsFollowTheirRules) {
    test::ActivityWindowHarness harness;
    CTorvaneDlg& window = harness.MakeWindow();
    window.show();
    const QSize designed = window.DesignedClientSize();
    ASSERT_EQ(window.size(), designed);
    EXPECT_EQ(window.minimumSize(), designed);

    std::map<QString, QRect> before;
    for (QWidget* control : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!control->objectName().isEmpty()) before[control->objectName()] = control->geometry();

    const int dx = 120;
    const int dy = 70;
    window.resize(designed + QSize(dx, dy));

    const struct {
        const char* name;
        QPoint moved;
        QSize grown;
    } cases[] = {
        {"1004", {dx, dy}, {0, 0}},
        {"1012", {dx, dy}, {0, 0}},
        {"1020", {dx, dy}, {0, 0}},
        {"1021", {dx, dy}, {0, 0}},
        {"3", {dx, 0}, {0, 0}},
        {"1005", {dx, 0}, {0, 0}},
        {"1006", {dx, 0}, {0, 0}},
        {"1014", {dx, 0}, {0, 0}},
        {"1003", {0, 0}, {0, 0}},
        {"1013", {0, 0}, {dx, 0}},
        {"1007", {0, 0}, {dx, dy}},
        {"1023", {0, dy}, {0, 0}},
        {"1009", {dx, 0}, {0, 0}},
        {"1018", {dx, 0}, {0, 0}},
        {"1223", {dx, 0}, {0, 0}},
        {"1224", {dx, 0}, {0, 0}},
        {"1015", {dx, 0}, {0, 0}},
        {"1011", {0, 0}, {0, 0}},
        {"labelDetections", {0, 0}, {0, 0}},
        {"labelSummary", {0, 0}, {0, 0}},
        {"labelLogs", {0, 0}, {0, 0}},
    };
    for (const auto& c : cases) {
        const QRect designedRect = before.at(QString::fromLatin1(c.name));
        const QRect expected(designedRect.topLeft() + c.moved, designedRect.size() + c.grown);
        EXPECT_EQ(window.findChild<QWidget*>(QLatin1String(c.name))->geometry(), expected)
            << c.name;
    }

    window.resize(designed);
    for (const auto& [name, rect] : before)
        EXPECT_EQ(window.findChild<QWidget*>(name)->geometry(), rect) << name.toStdString();
}

}  // namespace
}  // namespace torvane
