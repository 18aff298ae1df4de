#pragma once

#include <QObject>

class QListView;

namespace torvane {

// Keeps a list view moving down one row for each row appended to its model: the first visible
// row becomes the one before the batch plus the number of rows added, so a full list scrolls
// while a list scrolled back by the operator keeps its distance from the end.
class ScrollOnAppend : public QObject {
public:
    // Follows the view's current model; the follower belongs to the view.
    explicit ScrollOnAppend(QListView* view);

private:
    void NoteFirstVisibleRow();
    void MoveDown(int addedRows);

    QListView* view_;
    int firstVisibleBefore_ = 0;
};

// Index of the first visible row (the vertical scroll position, the view scrolling per item).
int FirstVisibleRow(const QListView& view);

}  // namespace torvane
