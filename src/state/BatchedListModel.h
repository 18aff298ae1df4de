#pragma once

#include <QAbstractListModel>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace torvane {

// Bound of a list: once it holds `limit` + 1 rows or more, the oldest `purgeCount` go, and the
// log file gets a notice before and after.
struct PurgePolicy {
    int limit = 0;  // 0: no limit
    int purgeCount = 0;
    std::string startNotice;
    std::string doneNotice;
};

// The rows of a list that owns one object per row.
template <typename Item>
class ItemStore : public std::vector<Item> {
public:
    void EraseFront(std::size_t count) {
        count = std::min(count, this->size());
        this->erase(this->begin(), this->begin() + static_cast<std::ptrdiff_t>(count));
    }
};

// An append-only list shown by a view. Rows are stored at once but announced to views in
// batches, at most every `kFlushIntervalMs`, so thousands of lines a second cost a few
// repaints, not one each. A list view lays out all its rows again for every batch, so a long
// list waits longer between batches (FlushIntervalMs): the view's work stays a small share of
// the time however many rows there are. `Store` keeps the rows: push_back, operator[], size,
// EraseFront, clear, and the value_type that Append takes.
template <typename Store>
class BatchedListModel : public QAbstractListModel {
public:
    using Item = typename Store::value_type;
    static constexpr int kFlushIntervalMs = 50;
    static constexpr int kLongestFlushIntervalMs = 1000;
    static constexpr int kShownRowsPerMs = 2000;  // 100,000 shown rows: 50 ms; 1,000,000: 500 ms
    using NoticeWriter = std::function<void(const std::string&)>;

    explicit BatchedListModel(PurgePolicy policy = {}, QObject* parent = nullptr)
        : QAbstractListModel(parent), policy_(std::move(policy)) {
        flushTimer_.setSingleShot(true);
        QObject::connect(&flushTimer_, &QTimer::timeout, this, [this] { Flush(); });
    }

    void SetNoticeWriter(NoticeWriter writer) { noticeWriter_ = std::move(writer); }

    // All rows, shown or still waiting for the next batch.
    int Count() const { return static_cast<int>(items_.size()); }
    decltype(auto) At(int index) const { return items_[static_cast<size_t>(index)]; }

    void Append(Item item) {
        items_.push_back(std::move(item));
        if (policy_.limit > 0 && Count() > policy_.limit) Purge();
        if (!flushTimer_.isActive()) flushTimer_.start(FlushIntervalMs());
    }

    // The wait between a row's arrival and the batch that shows it.
    int FlushIntervalMs() const {
        return std::clamp(shownRows_ / kShownRowsPerMs, kFlushIntervalMs, kLongestFlushIntervalMs);
    }

    void Clear() {
        beginResetModel();
        items_.clear();
        shownRows_ = 0;
        endResetModel();
    }

    // Announces the rows appended since the last batch.
    void Flush() {
        flushTimer_.stop();
        if (shownRows_ == Count()) return;
        beginInsertRows(QModelIndex(), shownRows_, Count() - 1);
        shownRows_ = Count();
        endInsertRows();
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : shownRows_;
    }

protected:
    Store items_;

private:
    void Purge() {
        if (noticeWriter_) noticeWriter_(policy_.startNotice);
        const int removed = std::min(policy_.purgeCount, Count());
        const int shownRemoved = std::min(removed, shownRows_);
        if (shownRemoved > 0) beginRemoveRows(QModelIndex(), 0, shownRemoved - 1);
        items_.EraseFront(static_cast<std::size_t>(removed));
        if (shownRemoved > 0) {
            shownRows_ -= shownRemoved;
            endRemoveRows();
        }
        if (noticeWriter_) noticeWriter_(policy_.doneNotice);
    }

    PurgePolicy policy_;
    NoticeWriter noticeWriter_;
    QTimer flushTimer_;
    int shownRows_ = 0;
};

}  // namespace torvane
