#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>

#include "support/CoreHarness.h"
#include "widgets/CBalloonHelp.h"
#include "widgets/CTrayIcon.h"

namespace torvane::test {
namespace {

// Task bar rectangles as left, top, right, bottom (right and bottom one past the last pixel).
QRect Ltrb(int l, int t, int r, int b) {
    return QRect(l, t, r - l, b - t);
}

TEST(BalloonAnchorTest, TaskBarRectangleGivesTheAnchorOfItsRow) {
    struct Case {
        QRect taskBar;
        QPoint anchor;
    };
    const Case cases[] = {
        // l <= 5 and t <= 5: bar at the top or at the left.
        {Ltrb(0, 0, 1920, 30), {1910, 20}},
        {Ltrb(0, 0, 60, 1080), {50, 1070}},
        {Ltrb(5, 5, 1920, 40), {1905, 25}},
        // l <= 5 and t > 5: bar at the bottom.
        {Ltrb(0, 1040, 1920, 1080), {1770, 1060}},
        {Ltrb(5, 6, 1285, 48), {1130, 27}},
        // l > 5 and t <= 5: bar at the right.
        {Ltrb(1860, 0, 1920, 1080), {1860, 1070}},
        {Ltrb(6, 5, 1920, 45), {6, 30}},
        // l > 5 and t > 5.
        {Ltrb(100, 1040, 1920, 1080), {90, 1040}},
        {Ltrb(6, 6, 100, 100), {-4, 6}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BalloonAnchorFromTaskBar(c.taskBar), c.anchor)
            << c.taskBar.x() << "," << c.taskBar.y() << " " << c.taskBar.width() << "x"
            << c.taskBar.height();
    }
}

TEST(BalloonAnchorTest, TaskBarIsTheStripThatTheAvailableAreaLeavesOut) {
    const QRect screen(0, 0, 1920, 1080);
    struct Case {
        const char* edge;
        QRect available;
        std::optional<QRect> taskBar;
    };
    const Case cases[] = {
        {"top", QRect(0, 30, 1920, 1050), QRect(0, 0, 1920, 30)},
        {"bottom", QRect(0, 0, 1920, 1040), QRect(0, 1040, 1920, 40)},
        {"left", QRect(60, 0, 1860, 1080), QRect(0, 0, 60, 1080)},
        {"right", QRect(0, 0, 1860, 1080), QRect(1860, 0, 60, 1080)},
        {"none", screen, std::nullopt},
        {"outside the screen", QRect(-10, 0, 1930, 1080), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TaskBarRect(screen, c.available), c.taskBar) << c.edge;
    }
    // The whole road for the usual desktop: a 40-pixel panel at the bottom of a full-HD screen.
    EXPECT_EQ(BalloonAnchorFromTaskBar(*TaskBarRect(screen, QRect(0, 0, 1920, 1040))),
              QPoint(1770, 1060));
}

TEST(BalloonAnchorTest, IconPlaceComesFirstThenTheTaskBarThenNothing) {
    const QRect screen(0, 0, 1920, 1080);
    const QRect withPanel(0, 0, 1920, 1040);
    EXPECT_EQ(FindBalloonAnchor(QRect(1800, 1050, 22, 22), screen, withPanel), QPoint(1810, 1060));
    EXPECT_EQ(FindBalloonAnchor(QRect(), screen, withPanel), QPoint(1770, 1060));
    EXPECT_EQ(FindBalloonAnchor(QRect(), screen, screen), std::nullopt);
}

class BalloonHelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen_ = QGuiApplication::primaryScreen()->geometry();
        QCursor::setPos(screen_.topLeft() + QPoint(5, 5));
    }
    void TearDown() override {
        if (balloon) balloon->close();
    }

    QPointer<CBalloonHelp> Launch(const QPoint& anchor, int timeoutMs) {
        balloon =
            CBalloonHelp::LaunchBalloon("Torvane", "Port invalide !", QIcon(), anchor, timeoutMs);
        return balloon;
    }
    bool Closed() const { return !balloon || !balloon->isVisible(); }
    // Runs the event loop for a while, long enough for the balloon to notice the mouse.
    static void RunFor(int ms) {
        WaitUntil([] { return false; }, ms);
    }

    void SendMouse(QWidget* target, QEvent::Type type) {
        QMouseEvent event(type, QPointF(3, 3), target->mapToGlobal(QPointF(3, 3)), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    QRect screen_;
    QPointer<CBalloonHelp> balloon;
};

TEST_F(BalloonHelpTest, ShowsTitleAndTextAsTheyAre) {
    Launch(screen_.center(), 0);
    ASSERT_TRUE(balloon->isVisible());
    EXPECT_EQ(balloon->findChild<QLabel*>("balloonTitle")->text(), "Torvane");
    EXPECT_EQ(balloon->findChild<QLabel*>("balloonText")->text(), "Port invalide !");
}

TEST_F(BalloonHelpTest, ClosesAfterItsTimeOutAndStaysOpenWithoutOne) {
    Launch(screen_.center(), 50);
    EXPECT_TRUE(WaitUntil([&] { return Closed(); }, 2000));

    Launch(screen_.center(), 0);
    RunFor(3 * CBalloonHelp::kMousePollMs);
    EXPECT_FALSE(Closed());
}

TEST_F(BalloonHelpTest, ClosesAtAMouseButtonAnywhereInTheProgram) {
    QWidget elsewhere;
    elsewhere.resize(50, 50);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        Launch(screen_.center(), 0);
        SendMouse(&elsewhere, type);
        EXPECT_TRUE(Closed()) << type;
    }
    Launch(screen_.center(), 0);
    SendMouse(balloon, QEvent::MouseButtonPress);
    EXPECT_TRUE(Closed());
}

TEST_F(BalloonHelpTest, ClosesWhenTheMouseMovesAwayButNotForASmallMove) {
    Launch(screen_.center(), 0);
    QCursor::setPos(QCursor::pos() + QPoint(4, 4));
    RunFor(3 * CBalloonHelp::kMousePollMs);
    EXPECT_FALSE(Closed());

    QCursor::setPos(QCursor::pos() + QPoint(100, 60));
    EXPECT_TRUE(WaitUntil([&] { return Closed(); }, 2000));
}

TEST_F(BalloonHelpTest, PointerTipSitsOnTheAnchorAndTheBodyStaysOnTheScreen) {
    struct Case {
        const char* where;
        QPoint anchor;
        bool pointsDown;
    };
    const Case cases[] = {
        {"middle", screen_.center(), false},
        {"top left", screen_.topLeft() + QPoint(2, 2), false},
        {"bottom right", screen_.bottomRight() - QPoint(5, 5), true},
        {"bottom left", screen_.bottomLeft() + QPoint(30, -5), true},
        {"right edge", QPoint(screen_.right() - 3, screen_.center().y()), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        Launch(c.anchor, 0);
        EXPECT_EQ(balloon->PointsDown(), c.pointsDown);
        EXPECT_EQ(balloon->mapToGlobal(balloon->PointerTip()), c.anchor);
        EXPECT_TRUE(screen_.contains(balloon->frameGeometry()));
        // The text is inside the body, clear of the pointer's side.
        const QRect text = balloon->findChild<QLabel*>("balloonText")->geometry();
        EXPECT_TRUE(balloon->rect().contains(text));
        if (c.pointsDown) {
            EXPECT_LT(text.bottom(), balloon->PointerTip().y() - 10);
        } else {
            EXPECT_GT(balloon->findChild<QLabel*>("balloonTitle")->y(), 10);
        }
        balloon->close();
    }
}

}  // namespace
}  // namespace torvane::test
