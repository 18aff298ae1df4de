#pragma once

#include <memory>
#include <string>

#include "state/BatchedListModel.h"
#include "state/LineStore.h"
#include "state/SummaryItem.h"

namespace torvane {

// Plain text lines: the detection list (no limit) and the log list (bounded).
class TextListModel : public BatchedListModel<LineStore> {
public:
    using BatchedListModel::BatchedListModel;
    std::string Line(int index) const { return std::string(At(index)); }
    QVariant data(const QModelIndex& index, int role) const override;
};

// Runner results; the list owns its items.
class SummaryListModel : public BatchedListModel<ItemStore<std::unique_ptr<CSummaryItem>>> {
public:
    enum Role { ItemRole = Qt::UserRole + 1 };
    using BatchedListModel::BatchedListModel;
    const CSummaryItem& Item(int index) const { return *At(index); }
    QVariant data(const QModelIndex& index, int role) const override;
};

// The three lists of the activity window, held by the core so that they work without a display.
struct ActivityLists {
    ActivityLists();
    TextListModel detections;
    SummaryListModel summary;
    TextListModel log;
};

inline constexpr int kListLimit = 8000;
inline constexpr int kListPurgeCount = 2000;
// The detection list keeps a whole race in view; the journal keeps every detection for good.
inline constexpr int kDetectionListLimit = 100000;
inline constexpr int kDetectionListPurgeCount = 20000;

}  // namespace torvane
