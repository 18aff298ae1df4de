#pragma once

#include <QFont>
#include <QRect>

// Dialog units: layouts are designed in units of the dialog font, a quarter of its average
// character width across and an eighth of its character height down.
namespace torvane {

struct DialogBaseUnits {
    int averageCharWidth = 0;  // pixels
    int charHeight = 0;        // pixels
};

// Average width over the 52 Latin letters, rounded, and the line height of the font.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Converts each edge separately, so that controls that touch in dialog units touch in pixels.
QRect DialogUnitsToPixels(const QRect& dialogUnits, const DialogBaseUnits& base);
int HorizontalDialogUnitsToPixels(int x, const DialogBaseUnits& base);
int VerticalDialogUnitsToPixels(int y, const DialogBaseUnits& base);

}  // namespace torvane
