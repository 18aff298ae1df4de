#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <functional>
#include <memory>

#include "widgets/CBalloonHelp.h"
#include "widgets/CTrayIcon.h"

class QDialog;
class QPlainTextEdit;

namespace torvane {

class Core;

// The hidden main window: it owns the notification icon and its menu, carries out Display,
// Disconnect, Exit and About, decides what closing means and shows balloons by the icon.
class CMainFrame : public QMainWindow {
public:
    enum Command { kDisplayActivity = 32772, kExit = 32774, kDisconnect = 32788, kAbout = 57664 };

    // What the frame needs of the activity window.
    struct ActivityWindowHooks {
        std::function<bool()> exists;
        std::function<void()> show;
        std::function<void()> savePosition;
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

    // The pop-up menu with the state of this moment, as each showing builds it.
    std::unique_ptr<QMenu> BuildTrayMenu();
    // The menu on the screen, if one is.
    QMenu* ShownMenu() const { return shownMenu_; }
    // The About box, ready for exec().
    std::unique_ptr<QDialog> CreateAboutBox();
    // The balloon of the last ShowTrayBalloon while it is open (desktops whose notification
    // area shows no balloons of its own).
    CBalloonHelp* ShownBalloon() const { return balloon_; }

    CTrayIcon& Tray() { return tray_; }
    QPlainTextEdit* TextView() const { return textView_; }

    // Whether Ctrl is held down now (replaced by tests).
    std::function<bool()> isCtrlHeld;
    // Called when the frame is closed for good.
    std::function<void()> onClosedForGood;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void RestorePlacement();
    void CreateTextView();
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void ShowTrayMenu();
    void DisplayActivityWindow();
    void Disconnect();
    void Exit();
    void ShowAbout();
    bool ActivityWindowExists() const;

    Core& core_;
    ActivityWindowHooks activity_;
    CTrayIcon tray_;
    QPlainTextEdit* textView_ = nullptr;
    bool exitFlag_ = false;
    QPointer<QMenu> shownMenu_;
    QPointer<CBalloonHelp> balloon_;
};

}  // namespace torvane
