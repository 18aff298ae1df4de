#pragma once

#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/JournalActions.h"
#include "journal/JournalRows.h"
#include "ui/JournalCsvExport.h"
#include "ui/JournalTableModel.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QPushButton;
class QTableView;

namespace torvane {

class Core;

// The journal of the race as a table the operator can search (bib or chip, span of race time),
// from which detections are sent again to Ostrak Pro, and which is exported to CSV. Searches
// and the export run on a worker thread of the window, pages of rows are read as the table
// shows them: the window thread goes on acknowledging the sources meanwhile. Questions go
// through the core's dialogs.
class JournalWindow : public QWidget {
public:
    explicit JournalWindow(Core& core, QWidget* parent = nullptr);
    ~JournalWindow() override;

    // Reads the program's journal afresh and runs the search again.
    void Reopen();
    // Shows a journal kept from an earlier race, read only; nothing when `path` is empty.
    void OpenKeptJournal(const QString& path);
    // Closes the window's connection on the journal (a new race keeps the file away) and
    // reads the new journal once the event loop runs again.
    void ReleaseJournal();
    // Runs the search the fields describe; false (with the reason shown) when they are not one.
    bool Search();
    // New passings of the whole journal, new states of shown rows; every 2 s while shown.
    void RefreshShown();
    bool IsSearching() const { return searching_ > 0; }
    bool IsExporting() const { return export_.IsRunning(); }
    const JournalTableModel& Model() const { return model_; }
    QTableView* Table() const { return table_; }
    QString StatusText() const;

    // Asks for the CSV file to write; empty when the operator cancels (replaced by tests).
    std::function<QString()> askExportPath;
    // Asks for a kept journal to open (replaced by tests).
    std::function<QString()> askKeptPath;

    void ResendSelection();
    void ResendSearch();
    // Sends on purpose the chosen rows kept back while the flow was closed, or without a
    // choice those of the search.
    void ForwardHeld();
    void ExportShown();

private:
    void BuildControls();
    void OpenFile(const std::string& path, bool kept);
    bool RefusedOnKeptJournal();
    using FoundHandler = std::function<void(std::optional<JournalKeys>, std::string)>;
    void FindOnWorker(JournalSearch search, FoundHandler found);
    void ShowKeys(std::optional<JournalKeys> keys, const std::string& error);
    void ShowCount();
    void Say(const QString& text);

    Core& core_;
    JournalActions actions_;
    JournalRowReader reader_;  // pages, on the window thread
    JournalTableModel model_;
    std::string path_;
    bool kept_ = false;  // a kept journal, not this race's
    JournalSearch shown_;
    int generation_ = 0;
    int searching_ = 0;
    QTimer refresh_;

    QLineEdit* term_ = nullptr;
    QLineEdit* from_ = nullptr;
    QLineEdit* to_ = nullptr;
    QCheckBox* heldOnly_ = nullptr;
    QTableView* table_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* resendSearch_ = nullptr;
    JournalCsvExport export_;
    QThreadPool pool_;  // searches and the export; last: its tasks end before the rest goes
};

}  // namespace torvane
