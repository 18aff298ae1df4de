#include "ui/JournalTableModel.h"

#include <algorithm>
#include <ctime>

#include "base/Clock.h"
#include "journal/JournalEntry.h"
#include "ui/UiText.h"

namespace torvane {
namespace {

// The reasons the journal writes, in the words of the window.
QString ReasonText(const std::string& reason) {
    if (reason == not_forwarded::kBadTime) return Text("bad time", "heure invalide");
    if (reason == not_forwarded::kNoChip) return Text("no chip", "sans puce");
    if (reason == not_forwarded::kNoTime) return Text("no time", "sans heure");
    if (reason == not_forwarded::kUnknownChip) return Text("unknown chip", "puce inconnue");
    return QString::fromStdString(reason);
}

// Bytes from a peer are shown as UTF-8 when they are, as Windows-1252 (near enough Latin-1)
// otherwise.
QString PeerText(const std::string& bytes) {
    const QString text = QString::fromUtf8(bytes);
    return text.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(bytes) : text;
}

}  // namespace

QString LocalClockText(std::int64_t utcMs, int offsetSeconds) {
    const std::time_t seconds =
        static_cast<std::time_t>((utcMs >= 0 ? utcMs : utcMs - 999) / 1000 + offsetSeconds);
    std::tm tm{};
    if (!gmtime_r(&seconds, &tm)) return {};
    return QString::asprintf("%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

QString PassingStateText(const JournalRow& row) {
    switch (row.state) {
        case PassingState::Sent: {
            const std::int64_t sentMs = *row.firstSentUtcMs;
            return Text("sent at %1", "envoyée à %1")
                .arg(LocalClockText(sentMs, clock::UtcOffsetSeconds(sentMs / 1000)));
        }
        case PassingState::SentAsBib:
            return Text("sent again as bib %1", "renvoyée avec le dossard %1")
                .arg(QString::fromStdString(row.asBib));
        case PassingState::Waiting:
            return Text("waiting", "en attente");
        case PassingState::Resend:
            return Text("resend waiting", "renvoi en attente");
        case PassingState::FlowClosed:
            return Text("not forwarded (flow closed)", "non transmise (flux fermé)");
        case PassingState::NotForwarded:
            return Text("not forwarded (%1)", "non transmise (%1)").arg(ReasonText(row.reason));
    }
    return {};
}

void JournalTableModel::SetKeys(JournalKeys keys) {
    beginResetModel();
    keys_ = std::move(keys);
    pages_.clear();
    recent_.clear();
    readError_.clear();
    endResetModel();
}

void JournalTableModel::Extend(JournalKeys keys) {
    const bool grows = keys_.Count() == 0 || (!keys_.isList && !keys.isList &&
                                              keys.first == keys_.first && keys.last >= keys_.last);
    if (!grows) {
        SetKeys(std::move(keys));
        return;
    }
    const int before = rowCount();
    const int after = static_cast<int>(std::min<std::size_t>(keys.Count(), INT32_MAX));
    if (after > before) beginInsertRows({}, before, after - 1);
    keys_ = std::move(keys);
    if (after > before) endInsertRows();
    ReadAgain();
}

void JournalTableModel::ReadAgain() {
    pages_.clear();
    recent_.clear();
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
}

const std::vector<JournalRow>* JournalTableModel::Page(int page) const {
    const auto found = pages_.find(page);
    if (found != pages_.end()) {
        recent_.remove(page);
        recent_.push_front(page);
        return &found->second;
    }
    if (!reader_) return nullptr;
    std::string error;
    auto rows = reader_->Rows(keys_, static_cast<std::size_t>(page) * kPageRows, kPageRows, error);
    readError_ = error;
    if (!error.empty()) return nullptr;
    if (recent_.size() >= kCachedPages) {
        pages_.erase(recent_.back());
        recent_.pop_back();
    }
    recent_.push_front(page);
    return &(pages_[page] = std::move(rows));
}

const JournalRow* JournalTableModel::RowAt(int row) const {
    if (row < 0 || row >= rowCount()) return nullptr;
    const std::vector<JournalRow>* page = Page(row / kPageRows);
    const std::size_t at = static_cast<std::size_t>(row % kPageRows);
    if (!page || at >= page->size()) return nullptr;
    // A passing missing from its place (never, unless the file changed under the search).
    const JournalRow& found = (*page)[at];
    return found.id == keys_.At(static_cast<std::size_t>(row)) ? &found : nullptr;
}

int JournalTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(std::min<std::size_t>(keys_.Count(), INT32_MAX));
}

int JournalTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant JournalTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const JournalRow* row = RowAt(index.row());
    if (!row) return index.column() == kState ? Text("(unreadable)", "(illisible)") : QVariant();
    switch (index.column()) {
        case kReceived:
            return LocalClockText(row->receivedUtcMs, row->utcOffsetSeconds);
        case kSource:
            return PeerText(row->source);
        case kChip:
            return PeerText(row->chip);
        case kBib:
            // A chip missing from the table is forwarded under its own code: it has no bib.
            return row->bib == row->chip ? QString() : PeerText(row->bib);
        case kRaceTime:
            return QString::fromStdString(row->raceTime);
        case kState:
            return PassingStateText(*row);
    }
    return {};
}

QVariant JournalTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    switch (section) {
        case kReceived:
            return Text("Received at", "Reçue à");
        case kSource:
            return Text("Source", "Source");
        case kChip:
            return Text("Chip", "Puce");
        case kBib:
            return Text("Bib", "Dossard");
        case kRaceTime:
            return Text("Race time", "Temps de course");
        case kState:
            return Text("State", "État");
    }
    return {};
}

}  // namespace torvane
