#include "ui/SummaryRowDelegate.h"

#include <QPainter>
#include <string>

#include "state/ActivityLists.h"
#include "state/DisplayText.h"
#include "state/SummaryItem.h"
#include "widgets/DialogUnits.h"

namespace torvane {
namespace {

// Column widths in average character widths; one more width of space goes before each.
constexpr int kBibColumn = 5;
constexpr int kNameColumn = 25;
constexpr int kTimeColumn = 12;
constexpr int kPassageColumn = 4;
constexpr int kStatusColumn = 80;
// Half the height of a designed row: the text starts this far above the row's middle.
constexpr int kTextAboveMiddle = 8;

}  // namespace

QColor SummaryTextColour(int errorFlag) {
    if (errorFlag == 0) return QColor(0, 64, 0);
    if (errorFlag > 0) return QColor(140, 70, 0);
    return QColor(0, 0, 0);
}

void PaintSummaryRow(QPainter& painter, const QRect& row, const QFont& font,
                     const CSummaryItem& item) {
    painter.save();
    painter.fillRect(row, Qt::white);
    QFont normal = font;
    normal.setBold(false);
    painter.setFont(normal);
    painter.setPen(SummaryTextColour(item.errorFlag));

    const int averageWidth = BaseUnitsOf(normal).averageCharWidth;
    const int textTop = (row.top() + row.bottom() + 1) / 2 - kTextAboveMiddle;
    const int textHeight = row.bottom() + 1 - textTop;
    const std::pair<QString, int> columns[] = {
        {item.bib ? QString::number(item.bib) : QString(), kBibColumn},
        {DisplayText(item.name), kNameColumn},
        {DisplayText(item.time), kTimeColumn},
        {DisplayText(item.passage), kPassageColumn},
        {DisplayText(item.status), kStatusColumn},
    };
    int x = row.left();
    for (const auto& [text, widthInChars] : columns) {
        x += averageWidth;
        const QRect cell(x, textTop, widthInChars * averageWidth, textHeight);
        painter.setClipRect(cell.intersected(row));
        painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
        x += cell.width();
    }
    painter.restore();
}

void SummaryRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    const auto* item = static_cast<const CSummaryItem*>(
        index.data(SummaryListModel::ItemRole).value<const void*>());
    if (!item) return;
    PaintSummaryRow(*painter, option.rect, option.font, *item);
}

QSize SummaryRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const int averageWidth = BaseUnitsOf(option.font).averageCharWidth;
    const int columnsWidth =
        (5 + kBibColumn + kNameColumn + kTimeColumn + kPassageColumn + kStatusColumn) *
        averageWidth;
    return QSize(columnsWidth, kSummaryRowHeight);
}

}  // namespace torvane
