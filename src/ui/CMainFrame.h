#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "widgets/CTrayIcon.h"

class QMenu;
class QPlainTextEdit;

namespace torvane {

class Core;

// The hidden main window: it owns the notification icon and its menu, carries out Display,
// Disconnect, Exit and About, and decides what closing means.
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

    void SetTrayStatus(int iconId, const std::string& tip);
    void ShowTrayBalloon(int iconId, const std::string& text);

    void OnCommand(int command);
    // The exit message of other programs (here: SIGTERM, SIGINT, SIGHUP): exit with no question.
    void ExitWithoutQuestion();
    bool ExitFlag() const { return exitFlag_; }

    // The pop-up menu, built afresh for each showing (tests look at it).
    std::unique_ptr<QMenu> BuildTrayMenu();
    CTrayIcon& Tray() { return tray_; }

    // Overridable for tests: whether Ctrl is held down now.
    std::function<bool()> isCtrlHeld;
    // Called when the frame is closed for good.
    std::function<void()> onClosedForGood;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void Disconnect();
    void Exit();
    void ShowAbout();
    QPoint BalloonAnchor() const;

    Core& core_;
    ActivityWindowHooks activity_;
    CTrayIcon tray_;
    QPlainTextEdit* textView_ = nullptr;
    bool exitFlag_ = false;
    std::unique_ptr<QMenu> shownMenu_;
};

}  // namespace torvane
