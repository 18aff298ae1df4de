#include "app/JournalActions.h"

#include <cstdio>

#include "app/Core.h"
#include "base/Clock.h"
#include "base/Logging.h"
#include "base/Texts.h"

namespace torvane {
namespace {

constexpr long kSecondsPerHour = 3600;

// The instant of a span time: the first race day's local midnight, counted in calendar days so
// that a day with a clock change keeps its length on the wall clock.
std::optional<std::int64_t> SpanInstantMs(const RunningState& state, long secondsOfSpan) {
    int year = 0, month = 0, day = 0;
    if (std::sscanf(state.raceDays[0].c_str(), "%4d%2d%2d", &year, &month, &day) != 3) {
        return std::nullopt;
    }
    const long hours = secondsOfSpan / kSecondsPerHour;
    const long rest = secondsOfSpan % kSecondsPerHour;
    const std::int64_t seconds = clock::MakeLocal(
        year, month, day + static_cast<int>(hours / 24), static_cast<int>(hours % 24),
        static_cast<int>(rest / 60), static_cast<int>(rest % 60));
    return seconds * 1000;
}

}  // namespace

std::optional<long> ParseSpanTime(const std::string& text) {
    int hours = 0, minutes = 0, seconds = 0, consumed = 0;
    const char* p = text.c_str();
    const bool withSeconds =
        std::sscanf(p, "%2d:%2d:%2d%n", &hours, &minutes, &seconds, &consumed) == 3 &&
        static_cast<std::size_t>(consumed) == text.size();
    if (!withSeconds) {
        seconds = 0;
        consumed = 0;
        if (std::sscanf(p, "%2d:%2d%n", &hours, &minutes, &consumed) != 2 ||
            static_cast<std::size_t>(consumed) != text.size()) {
            return std::nullopt;
        }
    }
    if (text.empty() || text[0] < '0' || text[0] > '9' || hours < 0 || minutes < 0 ||
        minutes > 59 || seconds < 0 || seconds > 59) {
        return std::nullopt;
    }
    return (static_cast<long>(hours) * 60 + minutes) * 60 + seconds;
}

JournalActionResult ReplayDetections(Core& core, const std::string& from,
                                     const std::optional<std::string>& to) {
    const auto fromTime = ParseSpanTime(from);
    const auto toTime = to ? ParseSpanTime(*to) : std::optional<long>();
    if (!fromTime || (to && !toTime) || (toTime && *toTime < *fromTime)) {
        return {false, Tr("Usage: replay HH:MM[:SS] [HH:MM[:SS]] (the end after the start)",
                          "Usage : replay HH:MM[:SS] [HH:MM[:SS]] (la fin après le début)")};
    }
    const auto fromMs = SpanInstantMs(core.State(), *fromTime);
    const auto toMs = toTime ? SpanInstantMs(core.State(), *toTime + 1) : clock::NowMs() + 1;
    if (!fromMs || !toMs) return {false, Tr("No race day.", "Pas de jour de course.")};

    core.FinishBurst();  // what is still in memory is looked at too
    std::string error;
    const auto detections = core.PassingJournal().ForwardedBetween(*fromMs, *toMs - 1, error);
    if (!error.empty()) {
        return {false, Format(Tr("$$$ The journal cannot be read (%s)",
                                 "$$$ Le journal des passages ne peut pas être lu (%s)"),
                              error.c_str())};
    }
    for (const ForwardedDetection& detection : detections) {
        core.HostOutbox().Add(detection.passingId, detection.line);
    }
    core.FinishBurst();
    const std::string message =
        Format(Tr("+++ Replay: %zu detections received from %s to %s queued again for Ostrak Pro",
                  "+++ Rejeu : %zu détections reçues de %s à %s remises en file pour Ostrak Pro"),
               detections.size(), from.c_str(), to ? to->c_str() : Tr("now", "maintenant"));
    Log(0, message);
    return {true, message};
}

JournalActionResult ExportJournal(Core& core, const std::string& path) {
    core.FinishBurst();
    std::size_t rows = 0;
    std::string error;
    if (!core.PassingJournal().ExportCsv(path, rows, error)) {
        const std::string message =
            Format(Tr("$$$ The journal cannot be exported to %s (%s)",
                      "$$$ Le journal des passages ne peut pas être exporté vers %s (%s)"),
                   path.c_str(), error.c_str());
        Log(0, message);
        return {false, message};
    }
    const std::string message =
        Format(Tr("+++ Journal exported: %zu detections in %s",
                  "+++ Journal des passages exporté : %zu détections dans %s"),
               rows, path.c_str());
    Log(0, message);
    return {true, message};
}

}  // namespace torvane
