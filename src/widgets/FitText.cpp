#include "widgets/FitText.h"

#include <QLabel>

namespace torvane {

void ShrinkFontToFit(QLabel& label, double smallestPoints) {
    QFont font = label.font();
    while (label.heightForWidth(label.width()) > label.height() &&
           font.pointSizeF() - 0.5 >= smallestPoints) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        label.setFont(font);
    }
}

}  // namespace torvane
