#include "app/LogService.h"

#include "base/Logging.h"
#include "state/ActivityLists.h"

namespace torvane {

void LogService::DispatchPending() {
    const auto lines = TakePendingLogLines();
    LogFileBatch batch;
    for (const auto& [level, text] : lines) Dispatch(level, text);
}

void LogService::Dispatch(int level, const std::string& text) {
    // Most lines hold no line end: they are used as they are, without a copy.
    std::string escapedCopy;
    if (HasLineEnds(text)) escapedCopy = EscapeLineEnds(text);
    const std::string& escaped = escapedCopy.empty() ? text : escapedCopy;
    if (level <= windowLevel_) {
        std::string shown;
        const std::string& clock = ClockText();
        shown.reserve(clock.size() + 2 + escaped.size());
        shown.append(clock).append(": ").append(escaped);
        if (observer_) observer_(observerContext_, shown);
        if (recent_.size() >= kRecentLines) recent_.pop_front();
        recent_.emplace_back(level, shown);
        logList_.Append(std::move(shown));
    }
    if (level <= kFileLevel) LogToFile(escaped);
}

}  // namespace torvane
