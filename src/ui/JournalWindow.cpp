#include "ui/JournalWindow.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "app/Core.h"
#include "app/NewRace.h"
#include "base/Logging.h"
#include "journal/JournalExport.h"
#include "ui/Resources.h"
#include "ui/UiText.h"

namespace torvane {
namespace {

// More chosen rows than this are sent again as a search, not row by row.
constexpr int kMostChosenRows = 5000;
constexpr int kRefreshMs = 2000;
constexpr int kProgramIcon = 128;

QPushButton* AddButton(QBoxLayout& row, const QString& text, const char* name) {
    auto* button = new QPushButton(text);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    row.addWidget(button);
    return button;
}

QLineEdit* AddField(QBoxLayout& row, const QString& label, const char* name, int width) {
    row.addWidget(new QLabel(label));
    auto* field = new QLineEdit;
    field->setObjectName(QString::fromLatin1(name));
    field->setFixedWidth(width);
    row.addWidget(field);
    return field;
}

// "HH:MM[:SS]" of a race-time span end as the journal's race-time text ("HH:MM:SS.hh"), the
// first or the last hundredth of that second; nothing when the text is not such a time.
std::optional<std::string> RaceTimeBound(const QString& text, bool last) {
    const auto seconds = ParseSpanTime(text.trimmed().toStdString());
    if (!seconds) return std::nullopt;
    return QString::asprintf("%02ld:%02ld:%02ld.%s", *seconds / 3600, *seconds / 60 % 60,
                             *seconds % 60, last ? "99" : "00")
        .toStdString();
}

}  // namespace

JournalWindow::JournalWindow(Core& core, QWidget* parent)
    : QWidget(parent, Qt::Window), core_(core), actions_(core) {
    setObjectName(QStringLiteral("journalWindow"));
    setWindowTitle(Text("Torvane - Passing journal", "Torvane - Journal des passages"));
    setWindowIcon(ResourceIcon(kProgramIcon));
    pool_.setMaxThreadCount(2);  // a search answers while an export runs
    askExportPath = [this] {
        return QFileDialog::getSaveFileName(this, Text("Export", "Exporter"), QString(),
                                            QStringLiteral("CSV (*.csv)"));
    };
    askKeptPath = [this] {
        return QFileDialog::getOpenFileName(this, Text("Kept journal", "Journal gardé"),
                                            QString::fromStdString(KeptJournalsFolder()),
                                            QStringLiteral("Journal (*.db)"));
    };
    BuildControls();
    model_.SetReader(&reader_);
    // A new race keeps the file away: the window lets go of it, then reads the new one.
    core_.AddJournalReleaseHook([window = QPointer<JournalWindow>(this)] {
        if (window) window->ReleaseJournal();
    });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, [this] {
        if (isVisible()) RefreshShown();
    });
    refresh_.start();
    Reopen();
}

void JournalWindow::ReleaseJournal() {
    if (kept_) return;  // another file
    ++generation_;      // a search under way shows nothing of the old file
    reader_.Close();
    model_.SetKeys({});
    QMetaObject::invokeMethod(
        this, [this] { Reopen(); }, Qt::QueuedConnection);
}

void JournalWindow::Reopen() {
    OpenFile(core_.PassingJournal().Path(), false);
}

void JournalWindow::OpenKeptJournal(const QString& path) {
    if (!path.isEmpty()) OpenFile(path.toStdString(), true);
}

// A kept journal is read only: nothing of it is sent again, since its ids are not the race's.
void JournalWindow::OpenFile(const std::string& path, bool kept) {
    path_ = path;
    kept_ = kept;
    setWindowTitle(kept ? Text("Torvane - Kept journal: %1", "Torvane - Journal gardé : %1")
                              .arg(QFileInfo(QString::fromStdString(path)).fileName())
                        : Text("Torvane - Passing journal", "Torvane - Journal des passages"));
    for (const char* name : {"resendSelection", "resendSearch", "forwardHeld"})
        findChild<QPushButton*>(QLatin1String(name))->setEnabled(!kept);
    std::string error;
    if (!reader_.Open(path_, error)) {
        model_.SetKeys({});
        Say(Text("The journal cannot be read (%1)", "Le journal ne peut pas être lu (%1)")
                .arg(QString::fromStdString(error)));
        return;
    }
    Search();
}

JournalWindow::~JournalWindow() {
    ++generation_;
    pool_.waitForDone();
}

void JournalWindow::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    auto* search = new QHBoxLayout;
    term_ = AddField(*search, Text("Bib or chip:", "Dossard ou puce :"), "term", 120);
    from_ = AddField(*search, Text("Race time from", "Temps de course de"), "from", 80);
    to_ = AddField(*search, Text("to", "à"), "to", 80);
    from_->setPlaceholderText(QStringLiteral("HH:MM:SS"));
    to_->setPlaceholderText(QStringLiteral("HH:MM:SS"));
    heldOnly_ = new QCheckBox(Text("Kept back only", "Retenues seulement"));
    heldOnly_->setObjectName(QStringLiteral("heldOnly"));
    heldOnly_->setToolTip(Text("Passings kept back while the flow was closed, never sent",
                               "Passages retenus flux fermé, jamais envoyés"));
    search->addWidget(heldOnly_);
    connect(AddButton(*search, Text("Search", "Rechercher"), "search"), &QPushButton::clicked, this,
            [this] { Search(); });
    for (QLineEdit* field : {term_, from_, to_})
        connect(field, &QLineEdit::returnPressed, this, [this] { Search(); });
    search->addStretch();
    connect(AddButton(*search, Text("Kept journal...", "Journal gardé..."), "openKept"),
            &QPushButton::clicked, this, [this] { OpenKeptJournal(askKeptPath()); });
    connect(AddButton(*search, Text("This race", "Course en cours"), "openRace"),
            &QPushButton::clicked, this, [this] { Reopen(); });
    layout->addLayout(search);

    table_ = new QTableView;
    table_->setObjectName(QStringLiteral("journalTable"));
    table_->setModel(&model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setAlternatingRowColors(true);
    layout->addWidget(table_);

    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("journalStatus"));
    layout->addWidget(status_);

    auto* actions = new QHBoxLayout;
    connect(AddButton(*actions,
                      Text("Send the chosen rows again...", "Renvoyer les lignes choisies..."),
                      "resendSelection"),
            &QPushButton::clicked, this, [this] { ResendSelection(); });
    resendSearch_ = AddButton(
        *actions, Text("Send the search again...", "Renvoyer la recherche..."), "resendSearch");
    connect(resendSearch_, &QPushButton::clicked, this, [this] { ResendSearch(); });
    connect(AddButton(*actions, Text("Send the kept back...", "Envoyer les retenues..."),
                      "forwardHeld"),
            &QPushButton::clicked, this, [this] { ForwardHeld(); });
    connect(AddButton(*actions, Text("Export to CSV...", "Exporter en CSV..."), "export"),
            &QPushButton::clicked, this, [this] { ExportShown(); });
    actions->addStretch();
    connect(AddButton(*actions, Text("New race...", "Nouvelle course..."), "newRace"),
            &QPushButton::clicked, this, [this] { AskAndStartNewRace(core_); });
    connect(AddButton(*actions, Text("Close", "Fermer"), "close"), &QPushButton::clicked, this,
            &QWidget::close);
    layout->addLayout(actions);
    resize(940, 540);
    const int widths[] = {80, 90, 110, 70, 130};
    for (int column = 0; column < 5; ++column) table_->setColumnWidth(column, widths[column]);
}

bool JournalWindow::Search() {
    JournalSearch search;
    search.term = term_->text().trimmed().toStdString();
    const bool hasFrom = !from_->text().trimmed().isEmpty();
    const bool hasTo = !to_->text().trimmed().isEmpty();
    const auto from =
        hasFrom ? RaceTimeBound(from_->text(), false) : std::optional<std::string>("");
    const auto to = hasTo ? RaceTimeBound(to_->text(), true) : std::optional<std::string>("");
    if (!from || !to || (hasFrom && hasTo && *to < *from)) {
        Say(Text("Race times are HH:MM or HH:MM:SS, the end after the start.",
                 "Les temps de course s'écrivent HH:MM ou HH:MM:SS, la fin après le début."));
        return false;
    }
    search.fromRaceTime = *from;
    search.toRaceTime = *to;
    search.heldOnly = heldOnly_->isChecked();
    ++generation_;
    Say(Text("Searching...", "Recherche..."));
    FindOnWorker(search, [this, search](std::optional<JournalKeys> keys, std::string error) {
        shown_ = search;
        ShowKeys(std::move(keys), error);
    });
    return true;
}

void JournalWindow::RefreshShown() {
    if (kept_ || searching_ > 0 || !reader_.IsOpen()) return;
    if (!shown_.MatchesAll()) {
        model_.ReadAgain();
        return;
    }
    FindOnWorker({}, [this](std::optional<JournalKeys> keys, std::string) {
        if (!keys) return;
        model_.Extend(std::move(*keys));
        ShowCount();
    });
}

// Searches run on a worker, counting a million rows included: not the window thread's work.
// `found` runs on the window thread unless a newer search or another file came meanwhile.
void JournalWindow::FindOnWorker(JournalSearch search, FoundHandler found) {
    const int generation = generation_;
    ++searching_;
    pool_.start([this, generation, search, found = std::move(found), path = path_] {
        JournalRowReader reader;
        std::string error;
        std::optional<JournalKeys> keys;
        if (reader.Open(path, error)) keys = reader.Find(search, error);
        QMetaObject::invokeMethod(
            this,
            [this, generation, found, keys = std::move(keys), error]() mutable {
                --searching_;
                if (generation == generation_) found(std::move(keys), std::move(error));
            },
            Qt::QueuedConnection);
    });
}

void JournalWindow::ShowKeys(std::optional<JournalKeys> keys, const std::string& error) {
    if (!keys) {
        Say(Text("The journal cannot be read (%1)", "Le journal ne peut pas être lu (%1)")
                .arg(QString::fromStdString(error)));
        return;
    }
    model_.SetKeys(std::move(*keys));
    resendSearch_->setEnabled(!kept_ && !shown_.MatchesAll());
    ShowCount();
}

void JournalWindow::ShowCount() {
    const JournalKeys& keys = model_.Keys();
    if (shown_.MatchesAll()) {
        Say(Text("Passings in the journal: %1", "Passages dans le journal : %1").arg(keys.Count()));
        return;
    }
    Say(Text("Passings found: %1 (forwarded: %2, kept back while the flow was closed: %3)",
             "Passages trouvés : %1 (transmis : %2, retenus flux fermé : %3)")
            .arg(keys.Count())
            .arg(keys.forwarded)
            .arg(keys.heldByClosedFlow));
}

void JournalWindow::Say(const QString& text) {
    status_->setText(text);
}

QString JournalWindow::StatusText() const {
    return status_->text();
}

void JournalWindow::ResendSelection() {
    if (RefusedOnKeptJournal()) return;
    const QModelIndexList chosen = table_->selectionModel()->selectedRows();
    if (chosen.isEmpty()) {
        Say(Text("Choose the rows to send again first.",
                 "Choisissez d'abord les lignes à renvoyer."));
        return;
    }
    if (chosen.size() > kMostChosenRows) {
        Say(Text("Too many rows chosen: search for them, then send the search again.",
                 "Trop de lignes choisies : recherchez-les, puis renvoyez la recherche."));
        return;
    }
    std::set<std::int64_t> ids;  // in the journal's order
    int held = 0;
    for (const QModelIndex& index : chosen) {
        const JournalRow* row = model_.RowAt(index.row());
        if (!row) continue;
        if (row->state == PassingState::FlowClosed || row->state == PassingState::NotForwarded) {
            ++held;
        } else {
            ids.insert(row->id);
        }
    }
    if (ids.empty()) {
        Say(Text("None of the chosen rows was forwarded: there is nothing to send again.",
                 "Aucune des lignes choisies n'a été transmise : rien à renvoyer."));
        return;
    }
    QString question = Text("Chosen detections to send again to Ostrak Pro: %1. Send them?",
                            "Détections choisies à renvoyer à Ostrak Pro : %1. Les renvoyer ?")
                           .arg(ids.size());
    if (held > 0) {
        question += Text("\n(Chosen rows never forwarded, left as they are: %1.)",
                         "\n(Lignes choisies jamais transmises, laissées telles quelles : %1.)")
                        .arg(held);
    }
    if (!core_.Dialogs().AskYesNo(question.toStdString())) return;
    actions_.Resend({ids.begin(), ids.end()},
                    [this](const std::string& message) { Say(QString::fromStdString(message)); });
}

void JournalWindow::ResendSearch() {
    if (RefusedOnKeptJournal()) return;
    const JournalKeys& keys = model_.Keys();
    if (shown_.MatchesAll() || keys.forwarded == 0) {
        Say(Text("This search found no forwarded detection to send again.",
                 "Cette recherche n'a trouvé aucune détection transmise à renvoyer."));
        return;
    }
    const QString question = Text(
                                 "Detections of this search to send again to Ostrak Pro: "
                                 "%1. Send them?",
                                 "Détections de cette recherche à renvoyer à Ostrak Pro : %1. "
                                 "Les renvoyer ?")
                                 .arg(keys.forwarded);
    if (!core_.Dialogs().AskYesNo(question.toStdString())) {
        return;
    }
    actions_.Resend(keys.ids,
                    [this](const std::string& message) { Say(QString::fromStdString(message)); });
}

void JournalWindow::ForwardHeld() {
    if (RefusedOnKeptJournal()) return;
    const QModelIndexList chosen = table_->selectionModel()->selectedRows();
    std::vector<std::int64_t> ids;
    if (chosen.size() > kMostChosenRows) {
        Say(Text("Too many rows chosen: search for them, then send the search again.",
                 "Trop de lignes choisies : recherchez-les, puis renvoyez la recherche."));
        return;
    }
    for (const QModelIndex& index : chosen) {
        const JournalRow* row = model_.RowAt(index.row());
        if (row && row->state == PassingState::FlowClosed) ids.push_back(row->id);
    }
    if (chosen.isEmpty() && !shown_.MatchesAll()) ids = model_.Keys().ids;
    const std::size_t count = chosen.isEmpty() ? model_.Keys().heldByClosedFlow : ids.size();
    if (ids.empty() || count == 0) {
        Say(Text("No passing kept back while the flow was closed among these rows.",
                 "Aucun passage retenu flux fermé parmi ces lignes."));
        return;
    }
    std::sort(ids.begin(), ids.end());
    const QString question =
        Text("Passings kept back while the flow was closed to send to Ostrak Pro: %1. Send them?",
             "Passages retenus flux fermé à envoyer à Ostrak Pro : %1. Les envoyer ?")
            .arg(count);
    if (!core_.Dialogs().AskYesNo(question.toStdString())) return;
    actions_.ForwardHeld(std::move(ids), [this](const std::string& message) {
        Say(QString::fromStdString(message));
    });
}

bool JournalWindow::RefusedOnKeptJournal() {
    if (!kept_) return false;
    Say(Text("A kept journal is read only: open this race's to send detections.",
             "Un journal gardé se lit seulement : ouvrez la course en cours pour envoyer."));
    return true;
}

void JournalWindow::ExportShown() {
    if (export_.IsRunning()) {
        Say(Text("An export is under way.", "Une exportation est en cours."));
        return;
    }
    const QString path = askExportPath();
    if (path.isEmpty()) return;
    core_.FinishBurst();  // what is still in memory is written too
    export_.Start(this, path_, model_.Keys(), path,
                  [this](const std::string& message) { Say(QString::fromStdString(message)); });
}

}  // namespace torvane
