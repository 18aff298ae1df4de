#pragma once

#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "journal/JournalExport.h"

class QProgressDialog;
class QWidget;

namespace torvane {

// The journal window's export: the rows of a search written to CSV on a worker thread, with a
// progress bar that can cancel it; the window stays usable meanwhile. Used on the window thread.
class JournalCsvExport {
public:
    JournalCsvExport();
    // Cancels a run under way and waits for it.
    ~JournalCsvExport();

    bool IsRunning() const { return run_ != nullptr; }
    // Starts writing `keys` of the journal at `journalPath` to `csvPath`, with its bar on
    // `parent`; `done` gets the outcome's line (logged too). False when one runs already.
    bool Start(QWidget* parent, const std::string& journalPath, const JournalKeys& keys,
               const QString& csvPath, std::function<void(const std::string&)> done);

private:
    struct Run;
    void Poll();

    std::unique_ptr<Run> run_;
    QTimer poll_;
    QThreadPool pool_;  // last: its task is waited for before the rest goes
};

}  // namespace torvane
