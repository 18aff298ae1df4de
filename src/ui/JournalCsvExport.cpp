#include "ui/JournalCsvExport.h"

#include <QFile>
#include <QProgressDialog>
#include <algorithm>

#include "base/Logging.h"
#include "base/Texts.h"
#include "ui/UiText.h"

namespace torvane {
namespace {

constexpr int kPollMs = 100;

}  // namespace

struct JournalCsvExport::Run {
    std::atomic<std::size_t> written{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    JournalReadResult result;  // set by the worker before `finished`
    std::size_t total = 0;
    QString path;
    QProgressDialog* progress = nullptr;
    std::function<void(const std::string&)> done;
};

JournalCsvExport::JournalCsvExport() {
    pool_.setMaxThreadCount(1);
    poll_.setInterval(kPollMs);
    QObject::connect(&poll_, &QTimer::timeout, [this] { Poll(); });
}

JournalCsvExport::~JournalCsvExport() {
    if (run_) run_->cancelled = true;
    pool_.waitForDone();
}

bool JournalCsvExport::Start(QWidget* parent, const std::string& journalPath,
                             const JournalKeys& keys, const QString& csvPath,
                             std::function<void(const std::string&)> done) {
    if (run_) return false;
    run_ = std::make_unique<Run>();
    Run* run = run_.get();
    run->total = keys.Count();
    run->path = csvPath;
    run->done = std::move(done);
    run->progress =
        new QProgressDialog(Text("Exporting the journal...", "Exportation du journal..."),
                            Text("Cancel", "Annuler"), 0, 100, parent);
    run->progress->setObjectName(QStringLiteral("exportProgress"));
    run->progress->setWindowModality(Qt::NonModal);
    run->progress->setAutoClose(false);
    run->progress->setAutoReset(false);
    run->progress->setMinimumDuration(0);
    run->progress->show();
    pool_.start([run, keys, journalPath, csv = csvPath.toStdString()] {
        run->result = ExportJournalRowsCsv(journalPath, keys, csv, &run->written, &run->cancelled);
        run->finished = true;
    });
    poll_.start();
    return true;
}

// The bar follows the rows written; the end says what became of the export.
void JournalCsvExport::Poll() {
    Run* run = run_.get();
    if (!run) return;
    if (run->progress->wasCanceled()) run->cancelled = true;
    const std::size_t total = std::max<std::size_t>(run->total, 1);
    run->progress->setValue(
        static_cast<int>(std::min<std::size_t>(run->written * 100 / total, 100)));
    if (!run->finished) return;
    poll_.stop();
    const JournalReadResult& result = run->result;
    std::string message;
    if (run->cancelled) {
        // Half a file is no export: it goes.
        QFile::remove(run->path);
        message = Tr("+++ Export of the journal cancelled", "+++ Exportation du journal annulée");
    } else if (result.done) {
        message = Format(Tr("+++ Journal exported: %zu detections in %s",
                            "+++ Journal des passages exporté : %zu détections dans %s"),
                         result.rows, run->path.toStdString().c_str());
    } else {
        message = Format(Tr("$$$ The journal cannot be exported to %s (%s)",
                            "$$$ Le journal des passages ne peut pas être exporté vers %s (%s)"),
                         run->path.toStdString().c_str(), result.error.c_str());
    }
    Log(0, message);
    run->progress->deleteLater();
    const auto done = std::move(run->done);
    run_.reset();
    done(message);
}

}  // namespace torvane
