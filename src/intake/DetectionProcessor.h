#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/RunningState.h"

namespace torvane {

class TextListModel;
class DetectionForwarder;
class DagFile;
class StatusDisplay;
class ManualDetectionInput;
class CChrono;

inline constexpr const char* kDefaultExtendedDetectors =
    "10-11-12-13-14-15-16-17-18-19-20-21-22-23-24-25-26-27-28-29-30";

// Turns each passing and each manual detection into a host command, a detection list line and
// log lines; follows the race days across midnight.
class DetectionProcessor {
public:
    DetectionProcessor(RunningState& state, TextListModel& detectionList,
                       DetectionForwarder& forwarder, DagFile& dagFile, StatusDisplay& status,
                       ManualDetectionInput& manualInput, std::function<void()> refreshButtons);

    void ProcessPassing(const std::string& source, const std::string& chip,
                        const std::string& timeField, const std::string& boxDate);
    DetectionForwarder& Forwarder() { return forwarder_; }
    void InsertManualDetection();
    void ComputeRaceDayDates();
    void TrackRaceDay();

    // The detector list offered for a manual detection: the fixed detector, then the
    // "-"/"+"-separated extra detectors.
    static std::vector<std::string> DetectorList(const std::string& extendedDetectors);

private:
    int DayOffsetOf(const std::string& boxDate) const;
    bool ParsePassingTime(const std::string& timeField, CChrono& time) const;
    void LogInvalidTime(const std::string& timeField) const;
    void SendToHost(const std::string& command);

    RunningState& state_;
    TextListModel& detectionList_;
    DetectionForwarder& forwarder_;
    DagFile& dagFile_;
    StatusDisplay& status_;
    ManualDetectionInput& manualInput_;
    std::function<void()> refreshButtons_;
};

std::string DetectionListLine(const std::string& raceTime, const std::string& chip, int bib);

}  // namespace torvane
