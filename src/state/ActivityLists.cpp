#include "state/ActivityLists.h"

#include "base/Logging.h"
#include "state/DisplayText.h"

namespace torvane {

QVariant TextListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
    return DisplayText(At(index.row()));
}

QVariant SummaryListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const CSummaryItem& item = Item(index.row());
    if (role == ItemRole) return QVariant::fromValue(static_cast<const void*>(&item));
    if (role == Qt::DisplayRole) {
        return DisplayText((item.bib ? std::to_string(item.bib) : std::string()) + " " + item.name +
                           " " + item.time + " " + item.passage + " " + item.status);
    }
    return {};
}

ActivityLists::ActivityLists()
    : detections(PurgePolicy{kDetectionListLimit, kDetectionListPurgeCount,
                             "Purge Detection Window content...", "Purge Detection Window done"}),
      summary(PurgePolicy{kListLimit, kListPurgeCount, "Purge Summary Window content...",
                          "Purge Summary Window done"}),
      log(PurgePolicy{kListLimit, kListPurgeCount, "Purge Log Window content...",
                      "Purge Log Window done"}) {
    detections.SetNoticeWriter(LogToFile);
    summary.SetNoticeWriter(LogToFile);
    log.SetNoticeWriter(LogToFile);
}

}  // namespace torvane
