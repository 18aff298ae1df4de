#include "ui/DialogUnitLayout.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <algorithm>

namespace torvane {

DialogUnitLayout::DialogUnitLayout(QDialog& dialog, const QSize& designedSize) : dialog_(dialog) {
    QFont dialogFont = dialog.font();
    dialogFont.setPointSize(kDialogFontPoints);
    dialog.setFont(dialogFont);
    base_ = BaseUnitsOf(dialogFont);
    dialog.setFixedSize(HorizontalDialogUnitsToPixels(designedSize.width(), base_),
                        VerticalDialogUnitsToPixels(designedSize.height(), base_));
}

void DialogUnitLayout::Name(QWidget* control, const char* name) {
    if (name) control->setObjectName(QString::fromLatin1(name));
}

void DialogUnitLayout::Place(QWidget* control, const QRect& dialogUnits) const {
    control->setGeometry(DialogUnitsToPixels(dialogUnits, base_));
}

QLabel* DialogUnitLayout::AddLabelAt(const char* name, const QPoint& dialogUnits,
                                     const QString& text) const {
    auto* label = new QLabel(text, &dialog_);
    Name(label, name);
    label->move(DialogUnitsToPixels(QRect(dialogUnits, QSize(0, 0)), base_).topLeft());
    label->resize(label->sizeHint());
    return label;
}

QLabel* DialogUnitLayout::AddLabel(const char* name, const QRect& dialogUnits, const QString& text,
                                   Qt::Alignment alignment) const {
    auto* label = new QLabel(text, &dialog_);
    Name(label, name);
    label->setAlignment(alignment);
    Place(label, dialogUnits);
    return label;
}

void DialogUnitLayout::PlaceDropDown(QComboBox* list, const QRect& dialogUnits) const {
    Place(list, dialogUnits);
    list->resize(list->width(), list->sizeHint().height());
}

void DialogUnitLayout::KeepLabelBeforeField(QLabel* label, QWidget* field) const {
    const int gap = HorizontalDialogUnitsToPixels(1, base_);
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
    const int left = label->geometry().right() + 1 + gap;
    if (left <= field->x()) return;
    const QRect place = field->geometry();
    field->setGeometry(left, place.y(), place.right() + 1 - left, place.height());
}

}  // namespace torvane
