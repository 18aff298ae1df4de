#include "ui/DesktopPorts.h"

#include <QMessageBox>

#include "state/DisplayText.h"
#include "ui/CMainFrame.h"
#include "ui/CTorvaneDlg.h"
#include "ui/SoundPlayer.h"

namespace torvane {

bool MessageBoxDialogs::AskYesNo(const std::string& text) {
    return QMessageBox::question(parent_(), "Torvane", DisplayText(text),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool MessageBoxDialogs::AskOkCancel(const std::string& text) {
    QMessageBox box(QMessageBox::Question, "Torvane", DisplayText(text),
                    QMessageBox::Ok | QMessageBox::Cancel, parent_());
    return box.exec() == QMessageBox::Ok;
}

void MessageBoxDialogs::ShowMessage(const std::string& text, MessageIcon icon) {
    const QMessageBox::Icon boxIcon = icon == MessageIcon::Information ? QMessageBox::Information
                                      : icon == MessageIcon::Warning   ? QMessageBox::Warning
                                                                       : QMessageBox::Critical;
    QMessageBox box(boxIcon, "Torvane", DisplayText(text), QMessageBox::Ok, parent_());
    box.exec();
}

void DesktopStatus::SetTrayStatus(int iconId, const std::string& tip) {
    if (frame_) frame_->SetTrayStatus(iconId, tip);
}

void DesktopStatus::ShowTrayBalloon(int iconId, const std::string& text) {
    if (frame_) frame_->ShowTrayBalloon(iconId, text);
}

void DesktopStatus::PlayWaveResource(int soundId) {
    torvane::PlayWaveResource(soundId);
}

void DesktopStatus::ShowDayOffset(int daysToAdd) {
    if (activity_) activity_->ShowDayOffset(daysToAdd);
}

void DesktopStatus::SetInsertButtonEnabled(bool enabled) {
    if (activity_) activity_->SetInsertButtonEnabled(enabled);
}

void DesktopStatus::ShowWaitingDetections(std::size_t count) {
    if (activity_) activity_->ShowWaitingDetections(count);
}

}  // namespace torvane
