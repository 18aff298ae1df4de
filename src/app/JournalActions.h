#pragma once

#include <optional>
#include <string>

namespace torvane {

class Core;

struct JournalActionResult {
    bool done = false;
    std::string message;  // what happened, in the program's language
};

// Queues again for the host, once each and on purpose, the journaled detections received in a
// span of the race day. Times are "HH:MM[:SS]" counted from midnight of the first race day, so
// that 25:10 is 01:10 of the second day; without an end, the span runs up to now. Logs how
// many were queued.
JournalActionResult ReplayDetections(Core& core, const std::string& from,
                                     const std::optional<std::string>& to);

// Writes every journaled detection to a CSV file: receive time, source, record, chip, bib, race
// time, sent time.
JournalActionResult ExportJournal(Core& core, const std::string& path);

// "HH:MM[:SS]" as seconds since midnight (hours up to 99); nothing when the text is not one.
std::optional<long> ParseSpanTime(const std::string& text);

}  // namespace torvane
