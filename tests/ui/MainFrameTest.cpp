#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>

#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "support/LoopbackPeer.h"
#include "ui/ActivityTestPorts.h"
#include "ui/CMainFrame.h"
#include "ui/DialogTestHarness.h"
#include "widgets/DialogUnits.h"

namespace torvane::test {
namespace {

const std::string kExitQuestion = "Voulez vous vraiment quitter Torvane ?";
const std::string kDisconnectQuestion =
    "Voulez vous vraiment déconnecter MyLaps et Fendrix/Lumbrec/Ostrak Pro ?";

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override { frame = MakeFrame(); }

    std::unique_ptr<CMainFrame> MakeFrame() {
        auto made = std::make_unique<CMainFrame>(
            *harness.core,
            CMainFrame::ActivityWindowHooks{[this] { return activityExists; },
                                            [this] { calls.push_back("show activity"); },
                                            [this] { calls.push_back("save position"); },
                                            [this] { calls.push_back("show journal"); }});
        made->isCtrlHeld = [this] { return ctrlHeld; };
        made->isTrayAvailable = [] { return true; };
        made->onClosedForGood = [this] { calls.push_back("closed for good"); };
        return made;
    }

    RunningState& State() { return harness.core->State(); }

    ActivityWindowHarness harness;
    bool activityExists = true;
    bool ctrlHeld = false;
    std::vector<std::string> calls;
    std::unique_ptr<CMainFrame> frame;
};

using Calls = std::vector<std::string>;

TEST_F(MainFrameTest, TrayMenuHoldsTheFrenchCommandsInOrderWithTheFirstAsBoldDefault) {
    struct Item {
        const char* text;  // nullptr: separator
        int command;
    };
    const Item expected[] = {{"Afficher la fenêtre d'activité", CMainFrame::kDisplayActivity},
                             {"Déconnexion de MyLaps et Ostrak Pro", CMainFrame::kDisconnect},
                             {"Journal des passages...", CMainFrame::kJournal},
                             {"Nouvelle course...", CMainFrame::kNewRace},
                             {nullptr, 0},
                             {"Quitter", CMainFrame::kExit},
                             {nullptr, 0},
                             {"A Propos de Torvane...", CMainFrame::kAbout}};
    const auto menu = frame->BuildTrayMenu();
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), std::size(expected));
    for (int i = 0; i < actions.size(); ++i) {
        SCOPED_TRACE(i);
        const Item& item = expected[i];
        EXPECT_EQ(actions[i]->isSeparator(), item.text == nullptr);
        if (!item.text) continue;
        EXPECT_EQ(actions[i]->text(), QString::fromUtf8(item.text));
        EXPECT_EQ(actions[i]->data().toInt(), item.command);
        EXPECT_EQ(actions[i]->font().bold(), i == 0);
    }
    EXPECT_EQ(menu->defaultAction(), actions[0]);
}

TEST_F(MainFrameTest, DisconnectIsEnabledOnlyWithTheActivityWindowAndAnActiveLink) {
    struct Case {
        bool windowExists;
        int hostState;
        int myLapsState;
        bool enabled;
    };
    const Case cases[] = {
        {true, 0, 0, false}, {false, 2, 2, false}, {false, 0, 0, false}, {true, 1, 0, true},
        {true, 2, 0, true},  {true, 0, 2, true},   {true, 1, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "window " << c.windowExists << " host " << c.hostState
                                        << " MyLaps " << c.myLapsState);
        activityExists = c.windowExists;
        State().hostLinkState = static_cast<HostLinkState>(c.hostState);
        State().myLapsLinkState = static_cast<MyLapsLinkState>(c.myLapsState);
        const auto menu = frame->BuildTrayMenu();
        const QList<QAction*> actions = menu->actions();
        EXPECT_EQ(actions[1]->isEnabled(), c.enabled);
        for (const int always : {0, 2, 3, 5, 7})
            EXPECT_TRUE(actions[always]->isEnabled()) << always;
    }
}

TEST_F(MainFrameTest, MenuCommandsReachTheFrame) {
    const auto menu = frame->BuildTrayMenu();
    menu->actions()[0]->trigger();
    menu->actions()[2]->trigger();
    EXPECT_EQ(calls, (Calls{"show activity", "show journal"}));

    harness.dialogs.answers = {false};
    menu->actions()[5]->trigger();
    EXPECT_EQ(harness.dialogs.questions, std::vector<std::string>{kExitQuestion});

    QString aboutTitle;
    WhenModalOpens([&](QDialog& dialog) {
        aboutTitle = dialog.windowTitle();
        dialog.accept();
    });
    menu->actions()[7]->trigger();
    EXPECT_EQ(aboutTitle, "A propos de Torvane");
}

TEST_F(MainFrameTest, ClicksOnTheIconOpenTheMenuUnlessTheyMakeADoubleClick) {
    using Reasons = std::vector<QSystemTrayIcon::ActivationReason>;
    struct Case {
        const char* name;
        Reasons clicks;
        bool menuAtOnce;
        bool menuInTheEnd;
        Calls calls;
    };
    const Case cases[] = {
        {"left click", {QSystemTrayIcon::Trigger}, false, true, {}},
        {"right click", {QSystemTrayIcon::Context}, true, true, {}},
        {"double-click",
         {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick},
         false,
         false,
         {"show activity"}},
        {"double-click over an open menu",
         {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick},
         false,
         false,
         {"show activity"}},
        {"middle click", {QSystemTrayIcon::MiddleClick}, false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        calls.clear();
        for (const auto reason : c.clicks) emit frame->Tray().Icon().activated(reason);
        EXPECT_EQ(frame->ShownMenu() != nullptr, c.menuAtOnce);
        EXPECT_EQ(calls, c.calls);

        if (c.menuInTheEnd) {
            ASSERT_TRUE(WaitUntil([&] { return frame->ShownMenu() != nullptr; }));
            QMenu* menu = frame->ShownMenu();
            EXPECT_EQ(menu->defaultAction(), menu->actions().value(0));
            menu->hide();
        } else {
            // No menu comes after the double-click time either.
            EXPECT_FALSE(frame->IsMenuPending());
            QTest::qWait(QApplication::doubleClickInterval() + 50);
            EXPECT_EQ(frame->ShownMenu(), nullptr);
        }
        EXPECT_EQ(calls, c.calls);
    }
}

TEST_F(MainFrameTest, DisplayDoesNothingWithoutTheActivityWindow) {
    activityExists = false;
    frame->OnCommand(CMainFrame::kDisplayActivity);
    EXPECT_TRUE(calls.empty());
}

// A MyLaps source on the core's listener and the host link it opens, both up.
class ConnectedMainFrameTest : public MainFrameTest {
protected:
    void SetUp() override {
        MainFrameTest::SetUp();
        WriteIniString("Ostrak", "Host", "127.0.0.1");
        WriteIniInt("Ostrak", "Port", host.Port());
        ASSERT_EQ(harness.core->StartListener(0), 0);
        ASSERT_TRUE(source.Connect(harness.core->Listener().ListeningPort()));
        ASSERT_TRUE(host.WaitForConnection());
        ASSERT_TRUE(
            WaitUntil([&] { return State().myLapsLinkState == MyLapsLinkState::Connected; }));
        ASSERT_TRUE(WaitUntil([&] { return State().hostLinkState == HostLinkState::Connected; }));
    }

    TcpServer host;
    TcpClient source;
};

TEST_F(ConnectedMainFrameTest, DisconnectAnsweredYesClosesBothLinksAndKeepsListening) {
    harness.dialogs.answers = {true};
    frame->OnCommand(CMainFrame::kDisconnect);
    EXPECT_EQ(harness.dialogs.questions, std::vector<std::string>{kDisconnectQuestion});
    EXPECT_TRUE(source.WaitForClose());
    EXPECT_TRUE(WaitUntil([&] {
        return State().myLapsLinkState == MyLapsLinkState::Waiting &&
               State().hostLinkState == HostLinkState::Disconnected;
    }));
    EXPECT_TRUE(harness.core->Listener().IsListening());
    EXPECT_FALSE(frame->BuildTrayMenu()->actions()[1]->isEnabled());
}

TEST_F(ConnectedMainFrameTest, DisconnectAnsweredNoLeavesBothLinksUp) {
    harness.dialogs.answers = {false};
    frame->OnCommand(CMainFrame::kDisconnect);
    EXPECT_EQ(harness.dialogs.questions, std::vector<std::string>{kDisconnectQuestion});
    // A ping still travels from the source to the host, and its answer back.
    ASSERT_TRUE(source.Send("Loop1@Ping@$"));
    EXPECT_TRUE(source.WaitFor("@GetInfo@"));
    EXPECT_TRUE(host.WaitForLines(1));
    EXPECT_EQ(State().myLapsLinkState, MyLapsLinkState::Connected);
    EXPECT_EQ(State().hostLinkState, HostLinkState::Connected);
}

TEST_F(ConnectedMainFrameTest, DisconnectWithoutTheActivityWindowNeitherAsksNorCloses) {
    activityExists = false;
    frame->OnCommand(CMainFrame::kDisconnect);
    EXPECT_TRUE(harness.dialogs.questions.empty());
    ASSERT_TRUE(source.Send("Loop1@Ping@$"));
    EXPECT_TRUE(source.WaitFor("@GetInfo@"));
}

TEST_F(MainFrameTest, ExitAsksUnlessCtrlIsHeldAndEndsOnlyOnOk) {
    struct Case {
        bool ctrl;
        bool answerOk;
        bool asked;
        bool exits;
    };
    const Case cases[] = {
        {true, false, false, true}, {false, true, true, true}, {false, false, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "ctrl " << c.ctrl << " ok " << c.answerOk);
        frame = MakeFrame();
        frame->SetTrayStatus(132, "tip");
        calls.clear();
        harness.dialogs.questions.clear();
        harness.dialogs.answers = {c.answerOk};
        ctrlHeld = c.ctrl;

        frame->OnCommand(CMainFrame::kExit);

        EXPECT_EQ(harness.dialogs.questions,
                  c.asked ? std::vector<std::string>{kExitQuestion} : std::vector<std::string>{});
        EXPECT_EQ(frame->ExitFlag(), c.exits);
        EXPECT_EQ(calls, (c.exits ? Calls{"save position", "closed for good"} : Calls{}));
        EXPECT_EQ(frame->Tray().IsShown(), !c.exits);
    }
}

TEST_F(MainFrameTest, TheExitQuestionSaysHowManyDetectionsWillWaitForTheNextStart) {
    harness.core->HostOutbox().Add(1, "AddDagClock(1\tL\t7\t1\t10:00:00.00)");
    harness.core->HostOutbox().Add(2, "AddDagClock(1\tL\t8\t1\t10:00:01.00)");
    harness.dialogs.answers = {false};
    frame->OnCommand(CMainFrame::kExit);
    EXPECT_EQ(harness.dialogs.questions,
              std::vector<std::string>{kExitQuestion +
                                       "\n\n2 détections en attente seront envoyées au prochain "
                                       "démarrage."});
}

TEST_F(MainFrameTest, CloseRequestWithoutTheExitFlagOnlyHidesAfterSavingThePosition) {
    frame->show();
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(frame->isHidden());
    EXPECT_FALSE(frame->ExitFlag());
    EXPECT_EQ(calls, Calls{"save position"});

    // The exit message of another program ends it after storing the position.
    frame->ExitWithoutQuestion();
    EXPECT_TRUE(frame->ExitFlag());
    EXPECT_TRUE(harness.dialogs.questions.empty());
    EXPECT_EQ(calls, (Calls{"save position", "save position", "closed for good"}));
}

TEST_F(MainFrameTest, TrayStatusAddsTheIconOnceAndKeepsWhatACallLeavesOut) {
    EXPECT_FALSE(frame->Tray().IsShown());
    frame->SetTrayStatus(0, "no icon yet");
    EXPECT_FALSE(frame->Tray().IsShown());

    frame->SetTrayStatus(141, "Déconnecté de Ostrak");
    EXPECT_TRUE(frame->Tray().IsShown());
    const qint64 firstIcon = frame->Tray().CurrentIcon().cacheKey();

    frame->SetTrayStatus(0, "Connexion à Ostrak en cours");
    EXPECT_EQ(frame->Tray().CurrentIcon().cacheKey(), firstIcon);
    EXPECT_EQ(frame->Tray().Tip(), "Connexion à Ostrak en cours");

    frame->SetTrayStatus(130, "");
    EXPECT_NE(frame->Tray().CurrentIcon().cacheKey(), firstIcon);
    EXPECT_EQ(frame->Tray().Tip(), "Connexion à Ostrak en cours");

    frame->SetTrayStatus(130, std::string(100, 'a') + "é" + std::string(100, 'b'));
    EXPECT_EQ(frame->Tray().Tip(), QString(100, 'a') + "é" + QString(26, 'b'));
}

TEST_F(MainFrameTest, BalloonWithoutAnAnchorIsSkippedWhileTheTipStillChanges) {
    // The off-screen desktop has neither a notification area nor a panel.
    frame->SetTrayStatus(131, "Connecté à Ostrak");
    frame->ShowTrayBalloon(134, "Connexion Ostrak - MyLaps effectuée");
    EXPECT_EQ(frame->ShownBalloon(), nullptr);
    EXPECT_EQ(frame->Tray().Tip(), "Connecté à Ostrak");
}

TEST_F(MainFrameTest, PlacementAndTextViewComeFromTheSettingsWhichStayUnwritten) {
    struct Case {
        const char* position;  // nullptr: no key
        const char* fontName;
        const char* fontSize;
        QRect geometry;  // empty: the frame keeps its own
        const char* family;
        int points;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, QRect(), "Arial", 8},
        {"[10, 20, 300, 400]", "DejaVu Sans", "11", QRect(10, 20, 290, 380), "DejaVu Sans", 11},
        {"[300, 20, 10, 400]", nullptr, "0", QRect(), "Arial", 8},
        {"[10, 20, 300]", nullptr, "-4", QRect(), "Arial", 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position ? c.position : "none");
        std::remove(harness.folders.IniPath().c_str());
        if (c.position) WriteIniString("Mainframe", "Position", c.position);
        if (c.fontName) WriteIniString("Settings", "DisplayFontName", c.fontName);
        if (c.fontSize) WriteIniString("Settings", "DisplayFontSize", c.fontSize);
        const std::string before = ReadFile(harness.folders.IniPath());
        const QRect unplaced = MakeFrame()->geometry();

        const auto made = MakeFrame();
        EXPECT_EQ(made->geometry(), c.geometry.isEmpty() ? unplaced : c.geometry);
        EXPECT_FALSE(made->isVisible());
        QPlainTextEdit* view = made->TextView();
        EXPECT_TRUE(view->isReadOnly());
        EXPECT_EQ(view->font().family(), c.family);
        EXPECT_EQ(view->font().pointSize(), c.points);
        EXPECT_EQ(view->font().weight(), QFont::Normal);
        EXPECT_EQ(view->palette().color(QPalette::Base), QColor(220, 220, 255));
        EXPECT_EQ(ReadFile(harness.folders.IniPath()), before);
    }
}

TEST_F(MainFrameTest, AboutBoxShowsVersionAndProxyCentredWithTheIconTopLeft) {
    const auto about = frame->CreateAboutBox();
    EXPECT_EQ(about->windowTitle(), "A propos de Torvane");
    const DialogBaseUnits base = BaseUnitsOf(about->font());
    EXPECT_EQ(about->size(), DialogUnitsToPixels(QRect(0, 0, 235, 94), base).size());

    auto* icon = Child<QLabel>(*about, "aboutIcon");
    auto* version = Child<QLabel>(*about, "aboutVersion");
    auto* proxy = Child<QLabel>(*about, "aboutProxy");
    auto* ok = Child<QPushButton>(*about, "1");
    ASSERT_TRUE(icon && version && proxy && ok);
    EXPECT_FALSE(icon->pixmap().isNull());
    EXPECT_LT(icon->x(), about->width() / 4);
    EXPECT_LT(icon->y(), about->height() / 4);
    EXPECT_EQ(version->text(), "Torvane  - Version 1.70b - 24 jun 2o26");
    EXPECT_EQ(proxy->text(), "Proxy    MyLaps <-->  Ostrak Pro");
    EXPECT_EQ(ok->text(), "OK");

    const QWidget* controls[] = {icon, version, proxy, ok};
    for (const QWidget* control : controls) {
        EXPECT_TRUE(about->rect().contains(control->geometry())) << control->objectName().data();
    }
    for (size_t i = 0; i < std::size(controls); ++i)
        for (size_t j = i + 1; j < std::size(controls); ++j)
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry())) << i << j;
    for (const QLabel* line : {version, proxy}) {
        EXPECT_TRUE(line->alignment().testFlag(Qt::AlignHCenter));
        EXPECT_LE(line->sizeHint().width(), line->width());
        EXPECT_LE(line->sizeHint().height(), line->height());
    }
    // Centred in the box, not only in its label.
    EXPECT_EQ(version->geometry().center().x(), proxy->geometry().center().x());
    EXPECT_NEAR(version->geometry().center().x(), about->width() / 2, 2);
    EXPECT_NEAR(ok->geometry().center().x(), about->width() / 2, 2);

    ok->click();
    EXPECT_EQ(about->result(), QDialog::Accepted);
}

}  // namespace
}  // namespace torvane::test
