#include "widgets/DialogUnits.h"

#include <QFontMetrics>
#include <cstdlib>

namespace torvane {
namespace {

// value × numerator / denominator, rounded half away from zero.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    const long long rounded =
        product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
    return static_cast<int>(rounded);
}

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int lettersWidth = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(lettersWidth / 26 + 1) / 2, metrics.height()};
}

int HorizontalDialogUnitsToPixels(int x, const DialogBaseUnits& base) {
    return MulDiv(x, base.averageCharWidth, 4);
}

int VerticalDialogUnitsToPixels(int y, const DialogBaseUnits& base) {
    return MulDiv(y, base.charHeight, 8);
}

QRect DialogUnitsToPixels(const QRect& dialogUnits, const DialogBaseUnits& base) {
    const int left = HorizontalDialogUnitsToPixels(dialogUnits.x(), base);
    const int top = VerticalDialogUnitsToPixels(dialogUnits.y(), base);
    const int right = HorizontalDialogUnitsToPixels(dialogUnits.x() + dialogUnits.width(), base);
    const int bottom = VerticalDialogUnitsToPixels(dialogUnits.y() + dialogUnits.height(), base);
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace torvane
