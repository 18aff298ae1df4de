#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "ui/ActivityTestPorts.h"
#include "ui/Resources.h"
#include "widgets/ScrollOnAppend.h"

namespace torvane::test {
namespace {

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

template <typename Widget>
Widget* Control(CTorvaneDlg& window, const char* name) {
    auto* control = window.findChild<Widget*>(QLatin1String(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
}

QString ControlText(CTorvaneDlg& window, const char* name) {
    QWidget* control = Control<QWidget>(window, name);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
    if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
    return QString();
}

void PressKey(QWidget* target, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
}

bool SameImage(const QIcon& icon, const QPixmap& bitmap) {
    const QImage shown =
        icon.pixmap(bitmap.size()).toImage().convertToFormat(QImage::Format_ARGB32);
    return shown == bitmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

class ActivityWindowTest : public ::testing::Test {
protected:
    ActivityWindowHarness harness;
};

TEST_F(ActivityWindowTest, ShowsEveryControlWithItsFrenchText) {
    harness.core->State().flowOpen = true;
    CTorvaneDlg& window = harness.MakeWindow();

    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"labelDetections", "Détections MyLaps reçues"},
        {"labelSummary", "Informations connexion directe"},
        {"1014", "Configuration..."},
        {"3", "Masquer"},
        {"1005",
         "Si vous masquez cette fenêtre de suivi de Torvane,\nvous pourrez la réafficher\nen "
         "cliquant sur\nson icône\ndans la barre système,\nprès de l'horloge...."},
        {"1018", "Insérer\nune détection"},
        {"1009", "Détections\nouvertes"},
        {"1223", "+ 24h"},
        {"1004", "Quitter"},
        {"1012", "<<< Effacer ces traces"},
        {"labelLogs", "Traces"},
        {"1015", "^^^ Effacer ces traces"},
        {"1011", "^^^ Effacer ces traces"},
        {"1023", kVersionText},
        {"1021", "Niveau de traces :"},
    };
    for (const auto& expected : cases) {
        EXPECT_EQ(ControlText(window, expected.name), QString::fromUtf8(expected.text))
            << expected.name;
    }
    EXPECT_EQ(window.windowTitle(), "Torvane");
    for (const char* list : {"1003", "1013", "1007"}) Control<QListView>(window, list);
    for (const char* icon : {"1006", "1224"}) {
        EXPECT_FALSE(Control<QLabel>(window, icon)->pixmap().isNull()) << icon;
    }
    EXPECT_FALSE(window.windowIcon().isNull());

    auto* levels = Control<QComboBox>(window, "1020");
    QStringList items;
    for (int i = 0; i < levels->count(); ++i) items << levels->itemText(i);
    EXPECT_EQ(items, QStringList({"  0    [Minimum]", " 25   [Faible]", " 50   [Moyen]",
                                  " 75   [Fort]", "100  [Maximum]"}));
}

TEST_F(ActivityWindowTest, InitialisationLogsTheStartAndStartsRaceDayTracking) {
    harness.core->State().daysToAdd = 1;
    CTorvaneDlg& window = harness.MakeWindow();
    harness.DeliverPosted();

    const TextListModel& log = harness.core->Lists().log;
    ASSERT_EQ(log.Count(), 1);
    EXPECT_TRUE(
        Utf8(log.Line(0))
            .endsWith(QString::fromUtf8(": Démarrage Torvane - Version 1.70b - 24 jun 2o26")));
    EXPECT_TRUE(harness.timers.IsTimerActive(kRaceDayTimer));
    EXPECT_FALSE(Control<QPushButton>(window, "1018")->isEnabled());
    EXPECT_FALSE(Control<QLabel>(window, "1223")->isHidden());
    EXPECT_EQ(ControlText(window, "1223"), "+24h");
    EXPECT_TRUE(harness.dialogs.questions.empty());
}

TEST_F(ActivityWindowTest, InsertButtonFollowsTheLinks) {
    CTorvaneDlg& window = harness.MakeWindow();
    auto* insert = Control<QPushButton>(window, "1018");
    const struct {
        int hostState;
        int myLapsState;
        bool enabled;
    } cases[] = {{0, 0, false}, {1, 0, true}, {0, 2, true}, {2, 2, true}, {0, 0, false}};
    for (const auto& c : cases) {
        harness.core->State().hostLinkState = static_cast<HostLinkState>(c.hostState);
        harness.core->State().myLapsLinkState = static_cast<MyLapsLinkState>(c.myLapsState);
        harness.core->RefreshButtons();
        EXPECT_EQ(insert->isEnabled(), c.enabled) << c.hostState << "/" << c.myLapsState;
    }
}

struct FlowCase {
    const char* name;
    bool startsOpen;
    std::deque<bool> answers;
    bool endsOpen;
    size_t questions;
};

class FlowButtonTest : public ActivityWindowTest, public ::testing::WithParamInterface<FlowCase> {};

TEST_P(FlowButtonTest, TogglesTheFlowAsTheOperatorAnswers) {
    const FlowCase& c = GetParam();
    harness.core->State().flowOpen = c.startsOpen;
    harness.dialogs.answers = c.answers;
    CTorvaneDlg& window = harness.MakeWindow();
    auto* flow = Control<QPushButton>(window, "1009");
    harness.status.trayUpdates = 0;

    flow->click();

    EXPECT_EQ(flow->isChecked(), c.endsOpen);
    EXPECT_EQ(harness.core->State().flowOpen, c.endsOpen);
    EXPECT_EQ(flow->text(),
              QString::fromUtf8(c.endsOpen ? "Détections\nouvertes" : "Detections\nfermées"));
    EXPECT_TRUE(SameImage(flow->icon(), ResourceBitmap(c.endsOpen ? 141 : 142)));
    ASSERT_EQ(harness.dialogs.questions.size(), c.questions);
    if (c.questions) {
        EXPECT_EQ(harness.dialogs.questions[0], "Etes vous sûr de fermer le flux des détections ?");
    }
    // The tray follows the flow at once, without balloon or sound.
    EXPECT_EQ(harness.status.trayUpdates, 1);
    EXPECT_EQ(harness.status.trayIcon, c.endsOpen ? 132 : 141);
    EXPECT_TRUE(harness.status.balloons.empty());
    EXPECT_TRUE(harness.status.sounds.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, FlowButtonTest,
                         ::testing::Values(FlowCase{"CloseAnsweredNo", true, {false}, true, 1},
                                           FlowCase{"CloseAnsweredYes", true, {true}, false, 1},
                                           FlowCase{"ReopenAsksNothing", false, {true}, true, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LevelCase {
    const char* stored;  // nullptr: no "LogWinLevel" in the settings
    int selectedIndex;
    int windowLevel;
};

class LevelSelectionTest : public ActivityWindowTest,
                           public ::testing::WithParamInterface<LevelCase> {};

TEST_P(LevelSelectionTest, SelectsTheStoredLevelOrTheSecondItem) {
    const LevelCase& c = GetParam();
    if (c.stored) WriteIniString("Settings", "LogWinLevel", c.stored);
    CTorvaneDlg& window = harness.MakeWindow();
    harness.DeliverPosted();

    EXPECT_EQ(Control<QComboBox>(window, "1020")->currentIndex(), c.selectedIndex);
    EXPECT_EQ(harness.core->Logs().WindowLevel(), c.windowLevel);
    EXPECT_EQ(ReadIniInt("Settings", "LogWinLevel", -1), c.windowLevel);
    // Selecting at start is no choice of the operator: only the start line is logged.
    EXPECT_EQ(harness.core->Lists().log.Count(), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, LevelSelectionTest,
                         ::testing::Values(LevelCase{nullptr, 2, 50}, LevelCase{"0", 0, 0},
                                           LevelCase{"75", 3, 75}, LevelCase{"100", 4, 100},
                                           LevelCase{"60", 1, 60}),
                         [](const auto& info) {
                             const char* stored = info.param.stored;
                             return stored ? "Stored" + std::string(stored) : "NoSetting";
                         });

TEST_F(ActivityWindowTest, ChoosingALevelSetsLogsAndStoresIt) {
    CTorvaneDlg& window = harness.MakeWindow();
    harness.DeliverPosted();

    Control<QComboBox>(window, "1020")->setCurrentIndex(3);
    harness.DeliverPosted();

    EXPECT_EQ(harness.core->Logs().WindowLevel(), 75);
    EXPECT_EQ(ReadIniInt("Settings", "LogWinLevel", -1), 75);
    const TextListModel& log = harness.core->Lists().log;
    ASSERT_EQ(log.Count(), 2);
    EXPECT_TRUE(Utf8(log.Line(1)).endsWith(QString::fromUtf8(": + Niveau de traces mis à 75")));
}

TEST_F(ActivityWindowTest, DayOffsetShowsHoursOnlyForLaterDays) {
    CTorvaneDlg& window = harness.MakeWindow();
    auto* label = Control<QLabel>(window, "1223");
    auto* icon = Control<QLabel>(window, "1224");
    const struct {
        int days;
        bool shown;
        const char* text;
    } cases[] = {{0, false, nullptr}, {2, true, "+48h"}, {-1, false, nullptr}, {3, true, "+72h"}};
    for (const auto& c : cases) {
        window.ShowDayOffset(c.days);
        EXPECT_EQ(!label->isHidden(), c.shown) << c.days;
        EXPECT_EQ(!icon->isHidden(), c.shown) << c.days;
        if (!c.shown) continue;
        EXPECT_EQ(label->text(), c.text);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(128, 0, 0));
        EXPECT_TRUE(label->font().bold());
        EXPECT_EQ(label->font().pointSize(), 12);
    }
}

TEST_F(ActivityWindowTest, EveryWayOfHidingStoresThePositionFirstAndKeepsTheWindowReachable) {
    for (const bool trayAvailable : {true, false}) {
        CTorvaneDlg& window = harness.MakeWindow(trayAvailable);
        const struct {
            const char* name;
            std::function<void()> hide;
        } ways[] = {
            {"hide button", [&] { Control<QPushButton>(window, "3")->click(); }},
            {"escape", [&] { PressKey(&window, Qt::Key_Escape); }},
            {"enter on a list",
             [&] { PressKey(Control<QListView>(window, "1007"), Qt::Key_Return); }},
            {"enter on the level box",
             [&] { PressKey(Control<QComboBox>(window, "1020"), Qt::Key_Enter); }},
            {"close box", [&] { window.close(); }},
        };
        int shift = 0;
        for (const auto& way : ways) {
            SCOPED_TRACE(testing::Message() << way.name << (trayAvailable ? "" : ", no tray"));
            shift += 10;
            window.PopFront();
            const QRect placed(40 + shift, 50 + shift, window.width(), window.height());
            window.setGeometry(placed);
            ASSERT_TRUE(window.isVisible());
            ASSERT_FALSE(window.isMinimized());

            way.hide();

            // Without a notification area only the task bar could bring a hidden window back.
            EXPECT_EQ(window.isVisible(), !trayAvailable);
            EXPECT_EQ(window.isMinimized(), !trayAvailable);
            const IniRect expected{placed.x(), placed.y(), placed.x() + placed.width(),
                                   placed.y() + placed.height()};
            EXPECT_EQ(ReadIniRect("Torvane", "Position", {}), expected);
            EXPECT_EQ(window.RememberedPosition(), expected);

            window.PopFront();
            EXPECT_TRUE(window.isVisible());
            EXPECT_FALSE(window.isMinimized());
            EXPECT_EQ(window.geometry(), placed);
        }
    }
}

TEST_F(ActivityWindowTest, AtStartAClosedWindowStaysReachableWithoutANotificationArea) {
    const struct {
        bool open;
        bool trayAvailable;
        bool visible;
        bool minimised;
    } cases[] = {{true, true, true, false},
                 {true, false, true, false},
                 {false, true, false, false},
                 {false, false, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "open " << c.open << " tray " << c.trayAvailable);
        CTorvaneDlg& window = harness.MakeWindow(c.trayAvailable);
        window.ShowAtStart(c.open);
        EXPECT_EQ(window.isVisible(), c.visible);
        EXPECT_EQ(window.isMinimized(), c.minimised);
    }
}

TEST_F(ActivityWindowTest, HintTellsHowToBringTheWindowBackOnThisDesktop) {
    const QString withTray = QString::fromUtf8(
        "Si vous masquez cette fenêtre de suivi de Torvane,\nvous pourrez la réafficher\nen "
        "cliquant sur\nson icône\ndans la barre système,\nprès de l'horloge....");
    const QString withoutTray = QString::fromUtf8(
        "Masquer réduit cette fenêtre de suivi de Torvane\n(pas de barre système) :\ncliquez "
        "sur\nson bouton\ndans la barre des tâches\npour la réafficher.");
    bool trayAvailable = true;
    CTorvaneDlg& window = harness.MakeWindow();
    window.SetTrayAvailability([&] { return trayAvailable; });
    auto* hint = Control<QLabel>(window, "1005");
    EXPECT_EQ(hint->text(), withTray);

    // The notification area goes away while the window is hidden: the next showing says so.
    window.hide();
    trayAvailable = false;
    window.show();
    EXPECT_EQ(hint->text(), withoutTray);
    EXPECT_LE(hint->heightForWidth(hint->width()), hint->height());

    window.hide();
    trayAvailable = true;
    window.show();
    EXPECT_EQ(hint->text(), withTray);
    EXPECT_LE(hint->heightForWidth(hint->width()), hint->height());
}

TEST_F(ActivityWindowTest, RestoresTheStoredPositionKeptOnScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QSize designed = CTorvaneDlg(*harness.core).DesignedClientSize();
    const int w = designed.width() + 20;
    const int h = designed.height() + 10;
    QRect centred(QPoint(), designed);
    centred.moveCenter(screen.center());
    // A screen narrower than the window (the offscreen one is) leaves its left edge 5 px in.
    centred.moveLeft(std::max(centred.left(), screen.left() + 5));
    centred.moveTop(std::max(centred.top(), screen.top() + 5));
    const struct {
        const char* name;
        std::optional<IniRect> stored;
        QRect expected;
    } cases[] = {
        {"never stored", std::nullopt, centred},
        {"zero width", IniRect{100, 100, 100, 400}, centred},
        {"reversed", IniRect{300, 300, 100, 100}, centred},
        {"on screen", IniRect{30, 40, 30 + w, 40 + h}, QRect(30, 40, w, h)},
        {"far off screen", IniRect{-9000, -9000, -9000 + w, -9000 + h},
         QRect(screen.left() + 15, screen.top() + 15, w, h)},
        {"above and left", IniRect{-50, -80, -50 + w, -80 + h},
         QRect(screen.left() + 5, screen.top() + 5, w, h)},
        {"too small", IniRect{30, 40, 50, 60}, QRect(QPoint(30, 40), designed)},
    };
    for (const auto& c : cases) {
        QFile::remove(QString::fromStdString(harness.folders.IniPath()));
        if (c.stored) WriteIniRect("Torvane", "Position", *c.stored);
        CTorvaneDlg window(*harness.core);
        EXPECT_EQ(window.geometry(), c.expected) << c.name;
    }
}

TEST_F(ActivityWindowTest, ButtonsReachTheirActions) {
    CTorvaneDlg& window = harness.MakeWindow();
    int configured = 0;
    int exits = 0;
    window.SetConfigureHandler([&] { ++configured; });
    window.SetExitHandler([&] { ++exits; });
    harness.core->State().myLapsLinkState = MyLapsLinkState::Connected;
    harness.core->RefreshButtons();

    Control<QPushButton>(window, "1014")->click();
    Control<QPushButton>(window, "1004")->click();
    Control<QPushButton>(window, "1018")->click();

    EXPECT_EQ(configured, 1);
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(harness.manual.asked, 1);
}

TEST_F(ActivityWindowTest, EnterPressesTheFocusedButtonInsteadOfHiding) {
    CTorvaneDlg& window = harness.MakeWindow();
    int configured = 0;
    window.SetConfigureHandler([&] { ++configured; });
    window.show();
    window.activateWindow();
    auto* configure = Control<QPushButton>(window, "1014");
    configure->setFocus();
    ASSERT_EQ(window.focusWidget(), configure);

    PressKey(configure, Qt::Key_Return);

    EXPECT_EQ(configured, 1);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(ActivityWindowTest, ClearButtonsEmptyTheirOwnListOnly) {
    CTorvaneDlg& window = harness.MakeWindow();
    ActivityLists& lists = harness.core->Lists();
    const struct {
        const char* button;
        int detections, summary, log;
    } cases[] = {{"1011", 0, 2, 2}, {"1015", 0, 0, 2}, {"1012", 0, 0, 0}};
    harness.DeliverPosted();
    lists.log.Clear();
    for (int i = 0; i < 2; ++i) {
        lists.detections.Append("detection");
        lists.summary.Append(std::make_unique<CSummaryItem>());
        lists.log.Append("line");
    }
    harness.DeliverPosted();
    for (const auto& c : cases) {
        Control<QPushButton>(window, c.button)->click();
        EXPECT_EQ(lists.detections.rowCount(), c.detections) << c.button;
        EXPECT_EQ(lists.summary.rowCount(), c.summary) << c.button;
        EXPECT_EQ(lists.log.rowCount(), c.log) << c.button;
    }
}

TEST_F(ActivityWindowTest, LogAndSummaryMoveDownOneRowPerAppendedRow) {
    CTorvaneDlg& window = harness.MakeWindow();
    window.show();
    harness.DeliverPosted();
    ActivityLists& lists = harness.core->Lists();
    auto* detections = Control<QListView>(window, "1003");
    auto* summary = Control<QListView>(window, "1013");
    auto* log = Control<QListView>(window, "1007");

    auto appendBatch = [&](int rows) {
        for (int i = 0; i < rows; ++i) {
            lists.detections.Append("detection " + std::to_string(i));
            lists.summary.Append(std::make_unique<CSummaryItem>());
            lists.log.Append("line " + std::to_string(i));
        }
        harness.DeliverPosted();
    };

    appendBatch(3);  // lists not full yet: nothing to scroll
    EXPECT_EQ(FirstVisibleRow(*log), 0);
    EXPECT_EQ(FirstVisibleRow(*summary), 0);

    appendBatch(200);  // full lists follow their end
    const int logEnd = log->verticalScrollBar()->maximum();
    EXPECT_GT(logEnd, 0);
    EXPECT_EQ(FirstVisibleRow(*log), logEnd);
    EXPECT_EQ(FirstVisibleRow(*summary), summary->verticalScrollBar()->maximum());
    EXPECT_EQ(FirstVisibleRow(*detections), 0);

    // Scrolled back by the operator, a list moves by the number of rows added in the batch.
    log->verticalScrollBar()->setValue(10);
    summary->verticalScrollBar()->setValue(20);
    appendBatch(5);
    EXPECT_EQ(FirstVisibleRow(*log), 15);
    EXPECT_EQ(FirstVisibleRow(*summary), 25);
    EXPECT_EQ(FirstVisibleRow(*detections), 0);
}

}  // namespace
}  // namespace torvane::test
