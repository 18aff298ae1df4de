#include "intake/DetectionProcessor.h"

#include "base/CalendarText.h"
#include "base/Chrono.h"
#include "base/Clock.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "delivery/HostRequests.h"
#include "delivery/Outbox.h"
#include "intake/DagFile.h"
#include "intake/PassingRecord.h"
#include "state/ActivityLists.h"
#include "state/OperatorPorts.h"
#include "tables/DagTable.h"

namespace torvane {

std::string DetectionListLine(const std::string& raceTime, const std::string& chip, int bib) {
    // "%s    %s   n°%03d" or "%s    %s   n° ???", written directly: this runs for every passing.
    std::string line;
    line.append(UpToNul(raceTime)).append("    ").append(UpToNul(chip)).append("   n°");
    if (bib > 0) {
        AppendNumber(line, bib, 3);
    } else {
        line.append(" ???");
    }
    return line;
}

DetectionProcessor::DetectionProcessor(RunningState& state, TextListModel& detectionList,
                                       Journal& journal, Outbox& outbox, DagFile& dagFile,
                                       StatusDisplay& status, ManualDetectionInput& manualInput,
                                       std::function<void()> refreshButtons)
    : state_(state),
      detectionList_(detectionList),
      journal_(journal),
      outbox_(outbox),
      dagFile_(dagFile),
      status_(status),
      manualInput_(manualInput),
      refreshButtons_(std::move(refreshButtons)) {}

int DetectionProcessor::DayOffsetOf(const std::string& boxDate) const {
    for (int day = 0; day < 4; ++day)
        if (boxDate == state_.raceDays[static_cast<size_t>(day)]) return day;
    Log(100, Format(Tr("### Caution: Box and Computer  dates seem incompatible! (Box: %s, "
                       "Computer: %s)",
                       "### Attention: Incompatibilité de date boîtier (%s) / ordinateur (%s) !"),
                    boxDate.c_str(), state_.raceDays[0].c_str()));
    return 0;
}

bool DetectionProcessor::ParsePassingTime(const std::string& timeField, CChrono& time) {
    const bool hundredths = !timeField.empty() && timeField.front() == ' ';
    if (hundredths ? time.ParseTime(Trim(timeField)) : time.ParseMilliTime(timeField)) return true;
    LogInvalidTime(timeField);
    return false;
}

void DetectionProcessor::LogInvalidTime(const std::string& timeField) {
    if (!timeField.empty() && timeField.front() == ' ') {
        refused_.Refuse(
            Format(Tr("$$$ Invalid MyLaps time: %s\n", "$$$ Chrono MyLaps invalide : %s\n"),
                   Trim(timeField).c_str()));
        return;
    }
    refused_.Refuse(Format(
        Tr("$$$ Invalid MyLaps (milli) time: %s\n", "$$$ Chrono MyLaps (milli) invalide : %s\n"),
        timeField.c_str()));
}

namespace {

JournalEntry EntryOf(const ReceivedPassing& passing) {
    JournalEntry entry;
    entry.kind = passing.kind;
    entry.source = passing.source;
    entry.record = passing.record;
    entry.token = passing.token;
    entry.receivedUtcMs = passing.receivedUtcMs;
    entry.utcOffsetSeconds = clock::UtcOffsetSeconds(passing.receivedUtcMs / 1000);
    entry.chip = passing.chip;
    entry.boxDate = passing.boxDate;
    return entry;
}

}  // namespace

std::int64_t DetectionProcessor::JournalPassing(const ReceivedPassing& passing,
                                                const std::string& bib,
                                                const std::string& raceTime) {
    JournalEntry entry = EntryOf(passing);
    entry.bib = bib;
    entry.raceTime = raceTime;
    return journal_.Add(std::move(entry));
}

void DetectionProcessor::JournalRefused(const ReceivedPassing& passing, const char* reason) {
    JournalEntry entry = EntryOf(passing);
    entry.reason = reason;
    journal_.Add(std::move(entry));
}

void DetectionProcessor::SendToHost(std::int64_t passingId, const std::string& command) {
    outbox_.Add(passingId, command);
    std::string logLine = ">>> Ostrak: " + command;
    for (char& c : logLine)
        if (c == '\t') c = ' ';
    Log(75, logLine);
}

void DetectionProcessor::ProcessPassing(const ReceivedPassing& passing) {
    const std::string& source = passing.source;
    const std::string& chip = passing.chip;
    const int dayOffset = DayOffsetOf(passing.boxDate);
    CChrono time;
    if (!ParsePassingTime(passing.timeField, time)) {
        JournalRefused(passing, not_forwarded::kBadTime);
        return;
    }
    // An absurd time that the race day would carry past the largest time is as invalid as an
    // unreadable one.
    if (!time.AddDays(dayOffset)) {
        LogInvalidTime(passing.timeField);
        JournalRefused(passing, not_forwarded::kBadTime);
        return;
    }

    int bib = 0;
    if (!state_.flowOpen) {
        if (DagTableFindValue(chip, bib)) {
            Log(75, Format(Tr(">>> Detection flow is closed (#%d)",
                              ">>> Flux des détections fermé (#%d)"),
                           bib));
        } else {
            Log(75, Format(Tr(">>> Detection flow is closed <%s>",
                              ">>> Flux des détections fermé <%s>"),
                           chip.c_str()));
        }
        JournalRefused(passing, not_forwarded::kFlowClosed);
        return;
    }

    const std::string raceTime = time.FormatElapsed();

    if (DagTableFindValue(chip, bib)) {
        const std::string command = BuildNumberedDetectionCommand(source, bib, raceTime);
        const std::int64_t id = JournalPassing(passing, std::to_string(bib), raceTime);
        detectionList_.Append(DetectionListLine(raceTime, chip, bib));
        SendToHost(id, command);
        return;
    }
    if (state_.ignoreUnknownChips) {
        Log(75, Format(Tr("## Unknown chip [%s]. Detection discarded",
                          "## Puce inconnue [%s] Détection ignorée"),
                       chip.c_str()));
        JournalRefused(passing, not_forwarded::kUnknownChip);
        return;
    }
    const std::string command = BuildTextualDetectionCommand(source, chip, raceTime);
    const std::int64_t id = JournalPassing(passing, chip, raceTime);
    if (state_.dagRecording) dagFile_.AppendDagRecord(source, chip, raceTime);
    detectionList_.Append(DetectionListLine(raceTime, chip, 0));
    if (state_.dagRecording && !state_.alsoTransmit) return;
    SendToHost(id, command);
}

namespace {

// The time field of a journaled record, read again as the protocol read it at its arrival.
std::string JournaledTimeField(PassingKind kind, const std::string& record) {
    constexpr std::size_t kStoreTimeAt = 7, kStoreTimeLength = 12;
    if (kind != PassingKind::Store) return ReadPassingRecord(record, "").timeField;
    return record.size() >= kStoreTimeAt + kStoreTimeLength
               ? record.substr(kStoreTimeAt, kStoreTimeLength)
               : std::string();
}

}  // namespace

bool DetectionProcessor::ForwardHeld(const HeldPassing& held) {
    CChrono time;
    if (!ParsePassingTime(JournaledTimeField(held.kind, held.record), time) ||
        !time.AddDays(DayOffsetOf(held.boxDate))) {
        return false;
    }
    const std::string raceTime = time.FormatElapsed();
    int bib = 0;
    if (DagTableFindValue(held.chip, bib)) {
        journal_.SetDetection(held.id, std::to_string(bib), raceTime);
        SendToHost(held.id, BuildNumberedDetectionCommand(held.source, bib, raceTime));
    } else if (state_.ignoreUnknownChips) {
        Log(75, Format(Tr("## Unknown chip [%s]. Detection discarded",
                          "## Puce inconnue [%s] Détection ignorée"),
                       held.chip.c_str()));
        return false;
    } else {
        journal_.SetDetection(held.id, held.chip, raceTime);
        SendToHost(held.id, BuildTextualDetectionCommand(held.source, held.chip, raceTime));
    }
    detectionList_.Append(DetectionListLine(raceTime, held.chip, bib));
    return true;
}

std::vector<std::string> DetectionProcessor::DetectorList(const std::string& extendedDetectors) {
    const std::string all = "31     CLASSIC-" + extendedDetectors;
    std::vector<std::string> entries;
    std::string current;
    for (char c : all) {
        if (c == '+' || c == '-') {
            entries.push_back(Trim(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) entries.push_back(Trim(current));
    return entries;
}

bool DetectionProcessor::InsertManualDetection() {
    if (!journal_.IsOpen()) {
        // Nothing is forwarded that the journal does not hold.
        Log(0, Tr("$$$ No manual detection while the journal cannot be opened",
                  "$$$ Pas de détection manuelle tant que le journal des passages ne peut pas "
                  "être ouvert"));
        return false;
    }
    const std::string extended =
        ReadIniString("Settings", "TorvExtendedDetectors", kDefaultExtendedDetectors);
    WriteIniString("Settings", "TorvExtendedDetectors", extended);

    const auto detection = manualInput_.AskManualDetection(DetectorList(extended));
    if (!detection) return false;

    CChrono time = detection->time;
    time.ToTimeOfDay();
    if (detection->dayOffset > 0) time.AddDays(detection->dayOffset);
    const std::string raceTime = time.FormatElapsed();

    const std::string command =
        BuildTextualDetectionCommand(detection->detector, detection->bibText, raceTime);
    ReceivedPassing typed;
    typed.kind = PassingKind::Manual;
    typed.source = detection->detector;
    typed.record = Format("bib=%s time=%s days=%d", detection->bibText.c_str(),
                          detection->time.FormatClock().c_str(), detection->dayOffset);
    typed.chip = "Man.";
    typed.receivedUtcMs = clock::NowMs();
    const std::int64_t id = JournalPassing(typed, detection->bibText, raceTime);
    detectionList_.Append(DetectionListLine(raceTime, "Man.", static_cast<int>(detection->bib)));
    SendToHost(id, command);
    if (refreshButtons_) refreshButtons_();
    Log(0, Format(Tr("+++ Added manual detecttion for box %s at %s for runner %d",
                     "+++ Ajout manuel d'une détection Id. boîtier %s à %s pour le coureur %d"),
                  detection->detector.c_str(), raceTime.c_str(), static_cast<int>(detection->bib)));
    return true;
}

void DetectionProcessor::ComputeRaceDayDates() {
    const int n = state_.daysToAdd;
    if (n <= 0) {
        state_.raceDays[0] = TodayDateText();
        for (int k = 1; k < 4; ++k) state_.raceDays[static_cast<size_t>(k)] = OffsetDateText(k);
        return;
    }
    for (int k = 0; k < 4; ++k) state_.raceDays[static_cast<size_t>(k)] = OffsetDateText(k - n);
}

void DetectionProcessor::TrackRaceDay() {
    const std::string today = TodayDateText();
    int daysToAdd = 0;
    for (int k = 0; k < 4; ++k) {
        if (today == state_.raceDays[static_cast<size_t>(k)]) {
            daysToAdd = k;
            break;
        }
    }
    if (daysToAdd != state_.daysToAdd) {
        state_.daysToAdd = daysToAdd;
        WriteIniInt("Settings", "TDaysToAdd", daysToAdd);
    }
    status_.ShowDayOffset(state_.daysToAdd);
}

}  // namespace torvane
