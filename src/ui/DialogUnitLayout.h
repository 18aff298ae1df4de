#pragma once

#include <QRect>
#include <QString>

#include "widgets/DialogUnits.h"

class QComboBox;
class QDialog;
class QLabel;
class QWidget;

namespace torvane {

// Builds a fixed dialog from a layout designed in dialog units of the program's dialog font.
class DialogUnitLayout {
public:
    static constexpr int kDialogFontPoints = 8;

    // Gives the dialog the dialog font and its designed size.
    DialogUnitLayout(QDialog& dialog, const QSize& designedSize);

    void Place(QWidget* control, const QRect& dialogUnits) const;
    // A label whose size is its text's, its top left corner at the given point.
    QLabel* AddLabelAt(const char* name, const QPoint& dialogUnits, const QString& text) const;
    QLabel* AddLabel(const char* name, const QRect& dialogUnits, const QString& text,
                     Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) const;
    // The designed height of a drop-down list includes its open list; the closed box keeps its
    // own height.
    void PlaceDropDown(QComboBox* list, const QRect& dialogUnits) const;

    // Keeps a label's text whole when the font is wider than the one the layout was designed
    // for: the field on its right gives up the room and keeps its right edge.
    void KeepLabelBeforeField(QLabel* label, QWidget* field) const;

    template <typename Control>
    Control* Add(const char* name, const QRect& dialogUnits) const {
        auto* control = new Control(&dialog_);
        Name(control, name);
        Place(control, dialogUnits);
        return control;
    }

private:
    static void Name(QWidget* control, const char* name);

    QDialog& dialog_;
    DialogBaseUnits base_;
};

}  // namespace torvane
