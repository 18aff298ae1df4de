#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/JournalReader.h"

namespace torvane {

class Core;

// The operator's actions on the journal. Both read it on a reader thread of their own, so that
// the sources are acknowledged meanwhile; what they say (a usage error at once, the outcome
// once done) goes to `print` on the window thread, and an outcome to the log as well.
class JournalActions {
public:
    using Print = std::function<void(const std::string&)>;

    explicit JournalActions(Core& core) : core_(core) {}

    // Queues again for the host, once each and on purpose, the journaled detections received in
    // a span of the race day. Times are "HH:MM[:SS]" counted from midnight of the first race
    // day, so that 25:10 is 01:10 of the second day; without an end, the span runs up to now.
    // The detections are handed to the outbox on the window thread, a chunk at a time.
    void Replay(const std::string& from, const std::optional<std::string>& to, Print print);

    // Writes every journaled detection to a CSV file: receive time, source, record, chip, bib,
    // race time, sent time. `keptJournal`, when given, is read instead: a journal of an earlier
    // race, opened for reading only.
    void Export(const std::string& path, Print print, const std::string& keptJournal = {});

private:
    Core& core_;
    JournalReader reader_;
};

// "HH:MM[:SS]" as seconds since midnight (hours up to 99); nothing when the text is not one.
std::optional<long> ParseSpanTime(const std::string& text);

}  // namespace torvane
