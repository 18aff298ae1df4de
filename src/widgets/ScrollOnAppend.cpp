#include "widgets/ScrollOnAppend.h"

#include <QListView>
#include <QScrollBar>

namespace torvane {

ScrollOnAppend::ScrollOnAppend(QListView* view) : QObject(view), view_(view) {
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    QAbstractItemModel* model = view->model();
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this] { NoteFirstVisibleRow(); });
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { MoveDown(last - first + 1); });
}

int FirstVisibleRow(const QListView& view) {
    return view.verticalScrollBar()->value();
}

void ScrollOnAppend::NoteFirstVisibleRow() {
    firstVisibleBefore_ = FirstVisibleRow(*view_);
}

void ScrollOnAppend::MoveDown(int addedRows) {
    // The scroll range follows the new rows only once the view has laid them out.
    view_->doItemsLayout();
    view_->verticalScrollBar()->setValue(firstVisibleBefore_ + addedRows);
    view_->viewport()->update();
}

}  // namespace torvane
