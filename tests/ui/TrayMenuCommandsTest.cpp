// The tray menu's commands as the operator gives them: a click in the menu that the icon opened,
// the program's own message boxes answered with a click, and the window used again afterwards.
// Everything runs inside an event loop, as in the program, so that objects deleted later go
// when a nested loop of a modal box runs.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QEventLoop>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <ostream>

#include "app/Core.h"
#include "support/CoreFakes.h"
#include "support/CoreHarness.h"
#include "ui/CDlgConfig.h"
#include "ui/CMainFrame.h"
#include "ui/CTorvaneDlg.h"
#include "ui/ControlIds.h"
#include "ui/DesktopPorts.h"
#include "ui/DialogTestHarness.h"

namespace torvane::test {
namespace {

// The desktop program's windows over a core whose questions are real message boxes.
class DesktopWindows {
public:
    DesktopWindows() {
        core = std::make_unique<Core>(Core::Ports{dialogs, status, manual, &timers});
        core->AttachMessageTarget();
        frame = std::make_unique<CMainFrame>(
            *core, CMainFrame::ActivityWindowHooks{
                       [this] { return window != nullptr; }, [this] { window->PopFront(); },
                       [this] { window->SaveWindowPosition(); }, [] {}});
        frame->isCtrlHeld = [] { return false; };
        frame->onClosedForGood = [this] { closedForGood = true; };
        window = std::make_unique<CTorvaneDlg>(*core);
        status.Attach(frame.get(), window.get());
        window->SetConfigureHandler([this] { Configure(*core, window.get()); });
        window->SetExitHandler([this] { frame->OnCommand(CMainFrame::kExit); });
        frame->SetTrayStatus(132, "Déconnecté de Ostrak");
        window->show();
    }

    ~DesktopWindows() {
        status.Attach(nullptr, nullptr);
        window.reset();
        frame.reset();
        core.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    IsolatedFolders folders;
    MessageBoxDialogs dialogs{[this] { return static_cast<QWidget*>(window.get()); }};
    DesktopStatus status;
    ScriptedManualInput manual;
    FakeTimers timers;
    std::unique_ptr<Core> core;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<CTorvaneDlg> window;
    bool closedForGood = false;
};

// Runs `script` from the event loop, as an operator's click would run.
void RunFromEventLoop(const std::function<void()>& script) {
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        script();
        loop.quit();
    });
    loop.exec();
}

// The button of a modal box: a message box's standard button, or a push button by object name.
QAbstractButton* FindButton(QDialog& box, QMessageBox::StandardButton standard, const char* name) {
    if (auto* message = qobject_cast<QMessageBox*>(&box)) return message->button(standard);
    return box.findChild<QPushButton*>(QLatin1String(name));
}

// What the operator chose in the tray menu: the menu and its item, which must outlive the
// command that they started.
struct MenuChoice {
    QPointer<QMenu> menu;
    QPointer<QAction> item;
};

// Clicks a button of the next modal box once it is open; counts the boxes so answered and
// checks that the menu whose command opened the box is still there.
void ClickInNextModalBox(int& answered, QMessageBox::StandardButton standard,
                         const char* name = nullptr, const MenuChoice* choice = nullptr) {
    WhenModalOpens([&answered, standard, name, choice](QDialog& box) {
        if (choice) {
            EXPECT_TRUE(choice->menu) << "the menu went while its command ran";
            EXPECT_TRUE(choice->item) << "the menu item went while its command ran";
        }
        if (QAbstractButton* button = FindButton(box, standard, name)) {
            QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
            ++answered;
        }
    });
}

// Opens the tray menu with the right button and clicks the item of `command`.
void ChooseInTrayMenu(CMainFrame& frame, int command, MenuChoice& choice) {
    emit frame.Tray().Icon().activated(QSystemTrayIcon::Context);
    ASSERT_TRUE(WaitUntil([&] { return frame.ShownMenu() && frame.ShownMenu()->isVisible(); }));
    QMenu* menu = frame.ShownMenu();
    for (QAction* action : menu->actions()) {
        if (action->data().toInt() != command) continue;
        ASSERT_TRUE(action->isEnabled());
        choice = {menu, action};
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        return;
    }
    FAIL() << "no item for command " << command;
}

struct TrayCommandCase {
    const char* name;
    int command;
    QMessageBox::StandardButton answer;
    const char* answerName;  // the button's object name in a box that is no message box
};

void PrintTo(const TrayCommandCase& c, std::ostream* out) {
    *out << c.name;
}

class TrayMenuCommandsTest : public ::testing::TestWithParam<TrayCommandCase> {};

TEST_P(TrayMenuCommandsTest, BoxOfTheCommandIsAnsweredAndTheWindowStaysUsable) {
    const TrayCommandCase& c = GetParam();
    DesktopWindows desktop;
    // A link on its way up, so that Disconnect is offered.
    desktop.core->State().hostLinkState = HostLinkState::Connecting;
    int answered = 0;
    MenuChoice choice;

    RunFromEventLoop([&] {
        ClickInNextModalBox(answered, c.answer, c.answerName, &choice);
        ChooseInTrayMenu(*desktop.frame, c.command, choice);
    });
    EXPECT_EQ(answered, 1);
    EXPECT_FALSE(desktop.closedForGood);
    EXPECT_EQ(desktop.core->State().hostLinkState, HostLinkState::Connecting);

    // The activity window goes on: the configuration dialog opens and is cancelled.
    RunFromEventLoop([&] {
        ClickInNextModalBox(answered, QMessageBox::Cancel, controls::kCancel);
        auto* configure =
            desktop.window->findChild<QPushButton*>(QLatin1String(controls::activity::kConfigure));
        QTest::mouseClick(configure, Qt::LeftButton, {}, configure->rect().center());
    });
    EXPECT_EQ(answered, 2);

    // And so does the tray menu, with the same command once more and then Display.
    RunFromEventLoop([&] {
        ClickInNextModalBox(answered, c.answer, c.answerName, &choice);
        ChooseInTrayMenu(*desktop.frame, c.command, choice);
    });
    EXPECT_EQ(answered, 3);
    desktop.window->hide();
    RunFromEventLoop(
        [&] { ChooseInTrayMenu(*desktop.frame, CMainFrame::kDisplayActivity, choice); });
    EXPECT_TRUE(WaitUntil([&] { return desktop.window->isVisible(); }));
    EXPECT_FALSE(desktop.closedForGood);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, TrayMenuCommandsTest,
    ::testing::Values(
        TrayCommandCase{"AboutAnsweredOk", CMainFrame::kAbout, QMessageBox::Ok, controls::kOk},
        TrayCommandCase{"ExitAnsweredCancel", CMainFrame::kExit, QMessageBox::Cancel, nullptr},
        TrayCommandCase{"DisconnectAnsweredNo", CMainFrame::kDisconnect, QMessageBox::No, nullptr},
        TrayCommandCase{"NewRaceAnsweredNo", CMainFrame::kNewRace, QMessageBox::No, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvane::test
