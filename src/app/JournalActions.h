#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/JournalReader.h"
#include "journal/JournalExport.h"

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

    // Queues again for the host, once each and on purpose, the journaled detections of the
    // given passings (those never forwarded are skipped), as Replay does.
    void Resend(std::vector<std::int64_t> passingIds, Print print);

    // Sends on purpose, once each, those of the given passings that were kept back because the
    // flow was closed, as they would have gone with the flow open.
    void ForwardHeld(std::vector<std::int64_t> passingIds, Print print);

    // Writes every journaled detection to a CSV file: receive time, source, record, chip, bib,
    // race time, sent time. `keptJournal`, when given, is read instead: a journal of an earlier
    // race, opened for reading only.
    void Export(const std::string& path, Print print, const std::string& keptJournal = {});

private:
    // Hands what `read` finds to the outbox, a chunk at a time on the window thread; `done`
    // then says the outcome there.
    using ChunkReader = std::function<JournalReadResult(
        const std::string& path, const std::function<bool(std::vector<ForwardedDetection>)>&,
        const std::atomic<bool>& stopping)>;
    void QueueAgain(ChunkReader read, std::function<void(const JournalReadResult&)> done);

    Core& core_;
    JournalReader reader_;
};

// "HH:MM[:SS]" as seconds since midnight (hours up to 99); nothing when the text is not one.
std::optional<long> ParseSpanTime(const std::string& text);

}  // namespace torvane
