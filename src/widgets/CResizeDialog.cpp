#include "widgets/CResizeDialog.h"

#include <QResizeEvent>
#include <QSizeGrip>

namespace torvane {

CResizeDialog::CResizeDialog(QWidget* parent) : QDialog(parent), sizeGrip_(new QSizeGrip(this)) {
    sizeGrip_->resize(sizeGrip_->sizeHint());
}

void CResizeDialog::InitResize(const QSize& designedClientSize) {
    designedSize_ = designedClientSize;
    setMinimumSize(designedClientSize);
    resize(designedClientSize);
    PlaceControls();
}

void CResizeDialog::AddResizeControl(QWidget* control, const ResizeShares& shares) {
    controls_.push_back({control, control->geometry(), shares});
}

void CResizeDialog::AddResizeControl(QWidget* control) {
    AddResizeControl(control, SharesFromPosition(control->geometry(), designedSize_.width()));
}

void CResizeDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    PlaceControls();
}

void CResizeDialog::PlaceControls() {
    if (designedSize_.isValid()) {
        const int dx = width() - designedSize_.width();
        const int dy = height() - designedSize_.height();
        for (const Registered& entry : controls_) {
            entry.control->setGeometry(ApplyResizeShares(entry.designed, entry.shares, dx, dy));
        }
    }
    sizeGrip_->move(width() - sizeGrip_->width(), height() - sizeGrip_->height());
    sizeGrip_->raise();
}

}  // namespace torvane
