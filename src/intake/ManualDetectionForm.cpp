#include "intake/ManualDetectionForm.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <optional>

#include "base/CalendarText.h"
#include "base/Clock.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"

namespace torvane {
namespace {

constexpr unsigned kHighestBib = 65535;

// A bib typed as decimal digits only, from 1 to 65535.
std::optional<unsigned> ReadBib(const std::string& typed) {
    const std::string text = Trim(typed);
    if (text.empty()) return std::nullopt;
    unsigned long value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        if (value <= kHighestBib) value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > kHighestBib) return std::nullopt;
    return static_cast<unsigned>(value);
}

// The typed time of day as an absolute time of today, built from today's date and the typed
// hours, minutes and seconds rather than added to midnight: on the days the clocks change,
// midnight is 23 or 25 hours away from the next one, and the time of day would move by an hour.
void MakeAbsoluteToday(CChrono& time) {
    std::tm today{};
    if (!clock::LocalTime(clock::Now().seconds, today)) return;
    const std::int32_t typed = time.seconds;
    const std::int64_t absolute =
        clock::MakeLocal(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, typed / 3600,
                         (typed % 3600) / 60, typed % 60);
    time.seconds = static_cast<std::int32_t>(absolute);
}

int TodayAmongRaceDays(const RunningState& state) {
    const std::string today = TodayDateText();
    const auto found = std::find(state.raceDays.begin(), state.raceDays.end(), today);
    return found == state.raceDays.end() ? 0 : static_cast<int>(found - state.raceDays.begin());
}

}  // namespace

ManualDetectionOpening OpenManualDetectionForm(const RunningState& state,
                                               std::size_t detectorCount) {
    CChrono now;
    now.SetNow();

    ManualDetectionOpening opening;
    opening.insertTimeLabel =
        std::string(Tr("Insert time: ", "Insertion du temps : ")) + now.FormatClockSeconds();
    opening.timeText = now.FormatClock();
    const int last = ReadIniInt("Settings", "TorvLastDetectorIndex", 0);
    opening.detectorIndex = last <= 0 || static_cast<std::size_t>(last) >= detectorCount ? 0 : last;
    opening.dayOffsetIndex = TodayAmongRaceDays(state);
    return opening;
}

ValidationResult<ManualDetection> ValidateManualDetection(const std::string& bibText,
                                                          const std::string& timeText,
                                                          int detectorIndex,
                                                          const std::vector<std::string>& detectors,
                                                          int dayOffsetIndex) {
    using Result = ValidationResult<ManualDetection>;
    const auto bib = ReadBib(bibText);
    if (!bib)
        return Result::Refused(Tr("Empty or invalid runner bib!", "Dossard vide ou invalide !"));

    CChrono time;
    if (!time.ParseTime(Trim(timeText))) {
        return Result::Refused(Tr("Time is empty or invalid!", "Temps invalide !"));
    }
    MakeAbsoluteToday(time);

    if (detectorIndex < 0 || static_cast<std::size_t>(detectorIndex) >= detectors.size()) {
        return Result::Refused(Tr("No Detector Id.!", "Pas de n° de détecteur !"));
    }
    WriteIniInt("Settings", "TorvLastDetectorIndex", detectorIndex);

    ManualDetection detection;
    detection.detector = detectors[static_cast<std::size_t>(detectorIndex)];
    detection.bib = *bib;
    detection.bibText = Format("%d", static_cast<int>(*bib));
    detection.time = time;
    detection.dayOffset = std::max(0, dayOffsetIndex);
    return Result::Accepted(std::move(detection));
}

void CancelManualDetection(int detectorIndex) {
    WriteIniInt("Settings", "TorvLastDetectorIndex", detectorIndex < 0 ? -1 : detectorIndex);
}

std::string DayOffsetText(int dayOffsetIndex) {
    if (dayOffsetIndex <= 0) return {};
    return Format("+%dh", dayOffsetIndex * 24);
}

}  // namespace torvane
