#pragma once

#include <QAbstractTableModel>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "journal/JournalRows.h"

namespace torvane {

// The rows of a journal search as a table, read a page at a time as the view asks for them and
// kept in a small cache: a million rows cost their ids (or two numbers), never their rows.
class JournalTableModel : public QAbstractTableModel {
public:
    enum Column { kReceived, kSource, kChip, kBib, kRaceTime, kState, kColumnCount };
    static constexpr int kPageRows = 200;

    explicit JournalTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Reads pages through `reader`, which must outlive the model's use of it.
    void SetReader(JournalRowReader* reader) { reader_ = reader; }
    // Shows the passings of a search.
    void SetKeys(JournalKeys keys);
    // The whole journal again, `keys` as it stands now: passings journaled since are added
    // below the rows shown, which keep their place and selection; their states are read again.
    void Extend(JournalKeys keys);
    // Reads the shown rows again (their states change as lines reach the host).
    void ReadAgain();
    const JournalKeys& Keys() const { return keys_; }
    // The row at `index`, read when it is not in the cache; null when it cannot be read.
    const JournalRow* RowAt(int row) const;
    // Why the last page could not be read; empty while every page could.
    const std::string& ReadError() const { return readError_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    static constexpr std::size_t kCachedPages = 40;
    const std::vector<JournalRow>* Page(int page) const;

    JournalRowReader* reader_ = nullptr;
    JournalKeys keys_;
    mutable std::map<int, std::vector<JournalRow>> pages_;
    mutable std::list<int> recent_;  // cached pages, the most recently read first
    mutable std::string readError_;
};

// The words of a state, as the window shows it; `sentAt` is the first line's sent time.
QString PassingStateText(const JournalRow& row);
// "HH:MM:SS" of an instant at an offset from UTC, as the window shows times.
QString LocalClockText(std::int64_t utcMs, int offsetSeconds);

}  // namespace torvane
