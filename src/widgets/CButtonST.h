#pragma once

#include <QPixmap>
#include <QPushButton>

namespace torvane {

// A push button that shows a bitmap beside its caption (which may have several lines). Made
// checkable, it is a push-like check box: pressed in while checked.
class CButtonST : public QPushButton {
public:
    explicit CButtonST(QWidget* parent = nullptr) : QPushButton(parent) {}

    void SetBitmap(const QPixmap& bitmap);
    void SetCheck(bool checked) { setChecked(checked); }
    bool GetCheck() const { return isChecked(); }
};

}  // namespace torvane
