#pragma once

#include <functional>
#include <string>
#include <vector>

#include "intake/RefusedRecordLog.h"
#include "journal/Journal.h"
#include "journal/JournalExport.h"
#include "state/RunningState.h"

namespace torvane {

class TextListModel;
class Outbox;
class DagFile;
class StatusDisplay;
class ManualDetectionInput;
class CChrono;

inline constexpr const char* kDefaultExtendedDetectors =
    "10-11-12-13-14-15-16-17-18-19-20-21-22-23-24-25-26-27-28-29-30";

// One passing of a source's message, as the protocol layer cut it out.
struct ReceivedPassing {
    PassingKind kind = PassingKind::Store;
    std::string source;  // the source's name, safe to show and to send
    std::string record;  // the record as received
    std::string token;   // the message's acknowledgement token
    std::string chip;    // safe to show and to send
    std::string timeField;
    std::string boxDate;  // "20" + YYMMDD
    std::int64_t receivedUtcMs = 0;
};

// Turns each passing and each manual detection into a host command, a detection list line and
// log lines, journaling what arrived and what became of it; follows the race days across
// midnight.
class DetectionProcessor {
public:
    DetectionProcessor(RunningState& state, TextListModel& detectionList, Journal& journal,
                       Outbox& outbox, DagFile& dagFile, StatusDisplay& status,
                       ManualDetectionInput& manualInput, std::function<void()> refreshButtons);

    void ProcessPassing(const ReceivedPassing& passing);
    // Sends on purpose a passing kept back while the flow was closed, as it would have gone
    // with the flow open (the chip table of now); false, with the reason logged, when its time
    // cannot be read or its chip is unknown while unknown chips are ignored.
    bool ForwardHeld(const HeldPassing& held);
    // Journals a passing that cannot be used, with the reason, as it was received.
    void JournalRefused(const ReceivedPassing& passing, const char* reason);
    // True when a manual detection was inserted.
    bool InsertManualDetection();
    void ComputeRaceDayDates();
    // Where a passing refused for its time is told; the protocol layer groups them by message.
    RefusedRecordLog& Refusals() { return refused_; }
    void TrackRaceDay();

    // The detector list offered for a manual detection: the fixed detector, then the
    // "-"/"+"-separated extra detectors.
    static std::vector<std::string> DetectorList(const std::string& extendedDetectors);

private:
    int DayOffsetOf(const std::string& boxDate) const;
    bool ParsePassingTime(const std::string& timeField, CChrono& time);
    std::int64_t JournalPassing(const ReceivedPassing& passing, const std::string& bib,
                                const std::string& raceTime);
    void LogInvalidTime(const std::string& timeField);
    void SendToHost(std::int64_t passingId, const std::string& command);

    RunningState& state_;
    TextListModel& detectionList_;
    Journal& journal_;
    Outbox& outbox_;
    DagFile& dagFile_;
    StatusDisplay& status_;
    ManualDetectionInput& manualInput_;
    std::function<void()> refreshButtons_;
    RefusedRecordLog refused_;
};

std::string DetectionListLine(const std::string& raceTime, const std::string& chip, int bib);

}  // namespace torvane
