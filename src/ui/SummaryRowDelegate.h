#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QStyledItemDelegate>

class QPainter;

namespace torvane {

struct CSummaryItem;

inline constexpr int kSummaryRowHeight = 16;

// Text colour of a summary row: accepted times dark green, positive error flags brown,
// negative ones black.
QColor SummaryTextColour(int errorFlag);

// Draws one summary row on white in `font` at normal weight: bib (empty when 0), name, time,
// passage and status, each in its own column clipped to its width.
void PaintSummaryRow(QPainter& painter, const QRect& row, const QFont& font,
                     const CSummaryItem& item);

// Draws the rows of the summary list from the model's items.
class SummaryRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace torvane
