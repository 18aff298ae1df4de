#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/Chrono.h"

// The few places where the core reaches the operator. The windows implement them; tests and
// the headless front-end implement them with recorders and the terminal.
namespace torvane {

enum class MessageIcon { Information, Warning, Error };

// Questions and message boxes; modal in the windows.
class OperatorDialogs {
public:
    virtual ~OperatorDialogs() = default;
    virtual bool AskYesNo(const std::string& text) = 0;
    virtual bool AskOkCancel(const std::string& text) = 0;
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
};

// The notification icon, its balloons and sounds, and the activity window's status controls.
class StatusDisplay {
public:
    virtual ~StatusDisplay() = default;
    // iconId 0: the state has no icon of its own (the current icon stays).
    virtual void SetTrayStatus(int iconId, const std::string& tip) = 0;
    virtual void ShowTrayBalloon(int iconId, const std::string& text) = 0;
    virtual void PlayWaveResource(int soundId) = 0;
    // Shows "+%dh" with daysToAdd × 24 when daysToAdd > 0, hides the display otherwise.
    virtual void ShowDayOffset(int daysToAdd) = 0;
    virtual void SetInsertButtonEnabled(bool enabled) = 0;
    // How many detections wait for the host (0: nothing is shown).
    virtual void ShowWaitingDetections(std::size_t count) = 0;
};

// What the manual detection dialog returns on OK.
struct ManualDetection {
    std::string detector;
    unsigned bib = 0;     // 1 to 65535
    std::string bibText;  // the bib as "%d"
    CChrono time;         // the entered time as an absolute time of today
    int dayOffset = 0;    // whole days to add, 0 to 3
};

class ManualDetectionInput {
public:
    virtual ~ManualDetectionInput() = default;
    // Shows the dialog with the detector list; nothing when the operator cancels.
    virtual std::optional<ManualDetection> AskManualDetection(
        const std::vector<std::string>& detectors) = 0;
};

}  // namespace torvane
