#include "widgets/CLabelST.h"

namespace torvane {

void CLabelST::SetTextColor(const QColor& colour) {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, colour);
    setPalette(colours);
}

void CLabelST::SetFontBold(bool bold) {
    QFont shown = font();
    shown.setBold(bold);
    setFont(shown);
}

void CLabelST::SetFontSize(int points) {
    QFont shown = font();
    shown.setPointSize(points);
    setFont(shown);
}

}  // namespace torvane
