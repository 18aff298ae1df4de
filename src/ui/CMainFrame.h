#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

#include "ui/DesktopNotifier.h"
#include "widgets/CBalloonHelp.h"
#include "widgets/CTrayIcon.h"

class QDialog;
class QPlainTextEdit;

namespace torvane {

class Core;

// The hidden main window: it owns the notification icon and its menu, carries out Display,
// Disconnect, Exit and About, decides what closing means and shows balloons by the icon, or as
// desktop notices where there is no notification area.
class CMainFrame : public QMainWindow {
public:
    enum Command {
        kDisplayActivity = 32772,
        kExit = 32774,
        kDisconnect = 32788,
        kNewRace = 32790,
        kJournal = 32791,
        kAbout = 57664
    };

    // What the frame needs of the activity window.
    struct ActivityWindowHooks {
        std::function<bool()> exists;
        std::function<void()> show;
        std::function<void()> savePosition;
        std::function<void()> showJournal;
    };

    CMainFrame(Core& core, ActivityWindowHooks activity);
    ~CMainFrame() override;

    // Icon id 0 keeps the current icon; an empty tip keeps the current tip.
    void SetTrayStatus(int iconId, const std::string& tip);
    void ShowTrayBalloon(int iconId, const std::string& text);

    void OnCommand(int command);
    // The exit message of other programs (here: SIGTERM, SIGINT, SIGHUP): exit with no question.
    void ExitWithoutQuestion();
    bool ExitFlag() const { return exitFlag_; }

    // A pop-up menu with the commands, kept up to date with the state each time it shows.
    std::unique_ptr<QMenu> BuildTrayMenu();
    // The icon's menu while it is on the screen.
    QMenu* ShownMenu() const;
    // Whether a click on the icon waits to see if a second click makes it a double-click.
    bool IsMenuPending() const { return menuDelay_.isActive(); }
    // The About box, ready for exec().
    std::unique_ptr<QDialog> CreateAboutBox();
    // The balloon of the last ShowTrayBalloon while it is open (desktops whose notification
    // area shows no balloons of its own).
    CBalloonHelp* ShownBalloon() const { return balloon_; }

    CTrayIcon& Tray() { return tray_; }
    QPlainTextEdit* TextView() const { return textView_; }
    DesktopNotifier& Notifier() { return notifier_; }

    // Whether Ctrl is held down now (replaced by tests).
    std::function<bool()> isCtrlHeld;
    // Whether the desktop has a notification area now (replaced by tests).
    std::function<bool()> isTrayAvailable;
    // Called when the frame is closed for good.
    std::function<void()> onClosedForGood;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void RestorePlacement();
    void CreateTextView();
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void RefreshTrayMenu(QMenu& menu);
    void ShowTrayMenu();
    void ShowBalloonWidget(const QString& title, const QString& text, const QIcon& icon);
    void DisplayActivityWindow();
    void Disconnect();
    void NewRace();
    void Exit();
    void ShowAbout();
    bool ActivityWindowExists() const;

    Core& core_;
    ActivityWindowHooks activity_;
    CTrayIcon tray_;
    QPlainTextEdit* textView_ = nullptr;
    bool exitFlag_ = false;
    // Made once and kept: a command of the menu may open a modal box, whose event loop must not
    // find the menu gone when the command returns into it.
    std::unique_ptr<QMenu> trayMenu_;
    QTimer menuDelay_;
    QPointer<CBalloonHelp> balloon_;
    DesktopNotifier notifier_;
};

}  // namespace torvane
