#include "widgets/FitText.h"

#include <QAbstractButton>
#include <QLabel>
#include <algorithm>

namespace torvane {

void ShrinkFontToFit(QLabel& label, double smallestPoints) {
    QFont font = label.font();
    while (label.heightForWidth(label.width()) > label.height() &&
           font.pointSizeF() - 0.5 >= smallestPoints) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        label.setFont(font);
    }
}

void ShrinkFontToFit(const std::vector<QAbstractButton*>& buttons, double smallestPoints) {
    if (buttons.empty()) return;
    const auto tooNarrow = [](const QAbstractButton* button) {
        return button->sizeHint().width() > button->width();
    };
    QFont font = buttons.front()->font();
    while (std::any_of(buttons.begin(), buttons.end(), tooNarrow) &&
           font.pointSizeF() - 0.5 >= smallestPoints) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        for (QAbstractButton* button : buttons) button->setFont(font);
    }
}

}  // namespace torvane
