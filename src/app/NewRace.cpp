#include "app/NewRace.h"

#include <ctime>

#include "app/Core.h"
#include "base/Clock.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "journal/JournalExport.h"
#include "journal/JournalKeeping.h"

namespace torvane {
namespace {

bool Refuse(const std::string& reason, std::string& message) {
    message =
        Format(Tr("$$$ New race refused: %s", "$$$ Nouvelle course refusée : %s"), reason.c_str());
    Log(0, message);
    return false;
}

// "YYYY-MM-DD HH:MM:SS", local time.
std::string LocalText(std::int64_t utcMs) {
    return clock::LocalTimeText(utcMs, "%Y-%m-%d %H:%M:%S");
}

}  // namespace

std::string NewRaceQuestion() {
    return Tr("Start a new race? This race's journal will be kept in the Journals folder.",
              "Commencer une nouvelle course ? Le journal de cette course sera gardé dans le "
              "dossier Journals.");
}

bool AskAndStartNewRace(Core& core) {
    if (!core.Dialogs().AskYesNo(NewRaceQuestion())) return false;
    std::string message;
    const bool started = StartNewRace(core, message);
    core.Dialogs().ShowMessage(message, started ? MessageIcon::Information : MessageIcon::Warning);
    return started;
}

std::string KeptJournalsFolder() {
    return GetDataFolder() + "/Journals";
}

bool StartNewRace(Core& core, std::string& message) {
    Journal& journal = core.PassingJournal();
    core.FinishBurst();
    if (!journal.IsOpen() || !core.FlushJournal()) {
        return Refuse(Tr("the journal cannot be written",
                         "le journal des passages ne peut pas "
                         "être écrit"),
                      message);
    }
    if (const std::size_t waiting = core.WaitingDetectionCount()) {
        return Refuse(Format(Tr("%zu detections still wait for Ostrak Pro",
                                "%zu détections attendent encore Ostrak Pro"),
                             waiting),
                      message);
    }
    JournalSummary summary;
    const JournalReadResult read = ReadJournalSummary(journal.Path(), summary);
    if (!read.done) return Refuse(read.error, message);
    const std::int64_t stamp =
        summary.firstReceivedUtcMs != 0 ? summary.firstReceivedUtcMs : clock::NowMs();

    const std::string path = journal.Path();
    core.ReleaseJournalReaders();
    journal.Close();
    std::string kept, error;
    const bool moved = KeepJournalFile(path, KeptJournalsFolder(), stamp, kept, error);
    // The new journal, or the same one again when it could not be kept.
    const bool reopened = core.OpenJournal();
    if (!moved) {
        return Refuse(
            Format(Tr("the journal cannot be kept (%s)", "le journal ne peut pas être gardé (%s)"),
                   error.c_str()),
            message);
    }
    message = Format(Tr("+++ New race: the journal of the last race is kept as %s",
                        "+++ Nouvelle course : le journal de la course précédente est gardé sous "
                        "%s"),
                     kept.c_str());
    Log(0, message);
    return reopened;
}

std::string RaceJournalText(Core& core) {
    Journal& journal = core.PassingJournal();
    JournalSummary summary;
    const JournalReadResult read = journal.IsOpen()
                                       ? ReadJournalSummary(journal.Path(), summary)
                                       : JournalReadResult{false, 0, journal.OpenError()};
    if (!read.done) {
        return Format(
            Tr("Race journal: cannot be read (%s)", "Journal de la course : illisible (%s)"),
            read.error.c_str());
    }
    return Format(Tr("Race journal: begun %s, %lld passings, %lld bytes",
                     "Journal de la course : commencé le %s, %lld passages, %lld octets"),
                  LocalText(summary.beganUtcMs).c_str(), static_cast<long long>(summary.passings),
                  static_cast<long long>(summary.bytes));
}

}  // namespace torvane
