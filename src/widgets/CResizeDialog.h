#pragma once

#include <QDialog>
#include <QSize>
#include <vector>

#include "widgets/ResizeShares.h"

class QSizeGrip;

namespace torvane {

// A dialog that can be resized but not made smaller than its designed size, with a size grip
// in the bottom-right corner. Each registered control moves and grows by its shares of the
// growth of the client area.
class CResizeDialog : public QDialog {
public:
    explicit CResizeDialog(QWidget* parent = nullptr);

    QSize DesignedClientSize() const { return designedSize_; }

protected:
    // Fixes the designed client size (also the minimum size) and resizes the dialog to it.
    void InitResize(const QSize& designedClientSize);
    // Registers a control at its current, designed, geometry.
    void AddResizeControl(QWidget* control, const ResizeShares& shares);
    // Registers a control with the shares its designed position gives (SharesFromPosition).
    void AddResizeControl(QWidget* control);

    void resizeEvent(QResizeEvent* event) override;

private:
    struct Registered {
        QWidget* control;
        QRect designed;
        ResizeShares shares;
    };

    void PlaceControls();

    QSize designedSize_;
    QSizeGrip* sizeGrip_;
    std::vector<Registered> controls_;
};

}  // namespace torvane
