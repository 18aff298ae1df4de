#pragma once

#include <QWidget>
#include <functional>

#include "state/OperatorPorts.h"

namespace torvane {

class CMainFrame;
class CTorvaneDlg;

// Questions and message boxes as modal Qt boxes over the given window.
class MessageBoxDialogs : public OperatorDialogs {
public:
    explicit MessageBoxDialogs(std::function<QWidget*()> parent) : parent_(std::move(parent)) {}
    bool AskYesNo(const std::string& text) override;
    bool AskOkCancel(const std::string& text) override;
    void ShowMessage(const std::string& text, MessageIcon icon) override;

private:
    std::function<QWidget*()> parent_;
};

// The status display of the desktop: the main frame's notification icon and balloons, the
// program's sounds, and the activity window's status controls.
class DesktopStatus : public StatusDisplay {
public:
    void Attach(CMainFrame* frame, CTorvaneDlg* activity) {
        frame_ = frame;
        activity_ = activity;
    }
    void SetTrayStatus(int iconId, const std::string& tip) override;
    void ShowTrayBalloon(int iconId, const std::string& text) override;
    void PlayWaveResource(int soundId) override;
    void ShowDayOffset(int daysToAdd) override;
    void SetInsertButtonEnabled(bool enabled) override;
    void ShowWaitingDetections(std::size_t count) override;

private:
    CMainFrame* frame_ = nullptr;
    CTorvaneDlg* activity_ = nullptr;
};

}  // namespace torvane
