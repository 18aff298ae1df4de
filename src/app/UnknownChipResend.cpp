#include "app/UnknownChipResend.h"

#include "app/Core.h"
#include "base/Logging.h"
#include "base/Texts.h"
#include "delivery/HostRequests.h"
#include "tables/DagTable.h"

namespace torvane {

std::vector<NowKnownDetection> UnknownChipsNowKnown(Core& core, std::string& error) {
    std::vector<NowKnownDetection> known;
    Journal& journal = core.PassingJournal();
    if (!journal.IsOpen()) {
        error = journal.OpenError();
        return known;
    }
    core.FinishBurst();
    if (!core.FlushJournal()) {
        error =
            Tr("the journal cannot be written", "le journal des passages ne peut pas être écrit");
        return known;
    }
    std::vector<UnknownChipDetection> unknown;
    const JournalReadResult read = ReadUnknownChipDetections(journal.Path(), unknown);
    if (!read.done) {
        error = read.error;
        return known;
    }
    for (UnknownChipDetection& detection : unknown) {
        int bib = 0;
        if (DagTableFindValue(detection.chip, bib)) known.push_back({std::move(detection), bib});
    }
    return known;
}

std::size_t AnnounceUnknownChipsNowKnown(Core& core) {
    if (!core.PassingJournal().IsOpen()) return 0;
    std::string error;
    const std::size_t count = UnknownChipsNowKnown(core, error).size();
    if (count > 0) {
        Log(0, Format(Tr("+++ %zu detections of chips now in the table: resend-unknown sends "
                         "them again with the bib",
                         "+++ %zu détections de puces maintenant dans la table : resend-unknown "
                         "les envoie à nouveau avec le dossard"),
                      count));
    }
    return count;
}

bool ResendUnknownChips(Core& core, std::string& message) {
    std::string error;
    const std::vector<NowKnownDetection> known = UnknownChipsNowKnown(core, error);
    if (!error.empty()) {
        message = Format(Tr("$$$ The journal cannot be read (%s)",
                            "$$$ Le journal des passages ne peut pas être lu (%s)"),
                         error.c_str());
        return false;
    }
    for (const NowKnownDetection& now : known) {
        const UnknownChipDetection& detection = now.detection;
        core.HostOutbox().Add(
            detection.passingId,
            BuildNumberedDetectionCommand(detection.source, now.bib, detection.raceTime),
            std::to_string(now.bib));
    }
    core.FinishBurst();
    message = Format(Tr("+++ %zu detections of unknown chips sent again with their bibs",
                        "+++ %zu détections de puces inconnues envoyées à nouveau avec leur "
                        "dossard"),
                     known.size());
    Log(0, message);
    return true;
}

void OfferUnknownChipResend(Core& core) {
    std::string error;
    const std::size_t count = UnknownChipsNowKnown(core, error).size();
    if (count == 0 ||
        !core.Dialogs().AskYesNo(Format(
            Tr("%zu detections of chips now in the table: send them again with the bib?",
               "%zu détections de puces maintenant dans la table : les envoyer à nouveau avec le "
               "dossard ?"),
            count))) {
        return;
    }
    std::string message;
    ResendUnknownChips(core, message);
}

}  // namespace torvane
