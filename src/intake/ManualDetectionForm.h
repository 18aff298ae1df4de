#pragma once

#include <string>
#include <vector>

#include "state/OperatorPorts.h"
#include "state/RunningState.h"
#include "state/ValidationResult.h"

// The manual detection dialog without its window: what it proposes when it opens, the checks of
// what the operator typed, and the detector it remembers for next time.
namespace torvane {

struct ManualDetectionOpening {
    std::string insertTimeLabel;  // "Insert time: " and the clock as HH:MM:SS
    std::string timeText;         // the clock as HH:MM:SS.hh
    int detectorIndex = 0;        // the detector chosen last, when it is still offered
    int dayOffsetIndex = 0;       // today's place among the race days
};

// Reads the clock once, and "Settings"/"TorvLastDetectorIndex".
ManualDetectionOpening OpenManualDetectionForm(const RunningState& state,
                                               std::size_t detectorCount);

// Checks the bib (digits only, 1 to 65535), then the time, then the detector; on success the
// detector index is remembered in the settings. dayOffsetIndex is the time-correction item.
ValidationResult<ManualDetection> ValidateManualDetection(const std::string& bibText,
                                                          const std::string& timeText,
                                                          int detectorIndex,
                                                          const std::vector<std::string>& detectors,
                                                          int dayOffsetIndex);

// Cancel remembers the detector picked so far (−1 when none).
void CancelManualDetection(int detectorIndex);

// "+%dh" with index × 24, or nothing when the index adds no day.
std::string DayOffsetText(int dayOffsetIndex);

}  // namespace torvane
