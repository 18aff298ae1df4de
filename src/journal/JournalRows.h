#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "journal/SqliteDatabase.h"

namespace torvane {

// What became of a journaled passing, from its host lines and the reason it was kept back.
enum class PassingState {
    Sent,          // its first line reached the host
    Waiting,       // its first line waits for the host
    Resend,        // sent, and a later line (a resend) waits for the host
    SentAsBib,     // sent under its chip code, then again with the bib the table gave later
    FlowClosed,    // not forwarded: the flow was closed
    NotForwarded,  // not forwarded for another reason (a bad time, an ignored unknown chip...)
};

// The one place where a state is made of what the journal holds.
// `sentAsBib`: a line that sent the passing again with a bib has reached the host.
PassingState StateOfPassing(std::int64_t hostLines, bool firstLineSent, std::int64_t waitingLines,
                            const std::string& reason, bool sentAsBib = false);

// One journaled passing as the journal window shows it.
struct JournalRow {
    std::int64_t id = 0;
    std::int64_t receivedUtcMs = 0;
    int utcOffsetSeconds = 0;
    std::string source, chip, bib, raceTime, reason;
    std::optional<std::int64_t> firstSentUtcMs;
    std::string asBib;  // the bib a later line sent it with (a chip missing from the table then)
    PassingState state = PassingState::NotForwarded;
};

// Which passings a search looks for; an empty field matches any passing. A term matches a bib
// or a chip code exactly; race times are "HH:MM:SS.hh", the span's ends included.
struct JournalSearch {
    std::string term;
    std::string fromRaceTime;
    std::string toRaceTime;
    bool heldOnly = false;  // only passings kept back while the flow was closed, never sent

    bool MatchesAll() const {
        return term.empty() && fromRaceTime.empty() && toRaceTime.empty() && !heldOnly;
    }
};

// The passings a search found, in the order of their ids: a range of ids when they follow one
// another (the whole journal, as a writer numbers it), a list otherwise. A list comes with how
// many of its passings were forwarded, and how many were kept back because the flow was closed.
struct JournalKeys {
    std::int64_t first = 1, last = 0;
    std::vector<std::int64_t> ids;
    bool isList = false;
    std::size_t forwarded = 0;
    std::size_t heldByClosedFlow = 0;

    std::size_t Count() const {
        return isList ? ids.size() : static_cast<std::size_t>(last >= first ? last - first + 1 : 0);
    }
    std::int64_t At(std::size_t index) const {
        return isList ? ids[index] : first + static_cast<std::int64_t>(index);
    }
};

// A read-only connection on a journal file for the journal window: in WAL mode it never waits
// for the program's writes, nor they for it. Used on one thread at a time.
class JournalRowReader {
public:
    // False with the reason when the file is missing or cannot be read.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return database_.IsOpen(); }
    void Close() {
        range_.Finalize();
        database_.Close();
    }

    // Every passing the search finds; nothing (with the reason) when the journal cannot be read.
    std::optional<JournalKeys> Find(const JournalSearch& search, std::string& error);
    // The rows of keys [from, from + count), in order.
    std::vector<JournalRow> Rows(const JournalKeys& keys, std::size_t from, std::size_t count,
                                 std::string& error);

private:
    std::optional<JournalKeys> FindAll(std::string& error);
    bool ReadRange(std::int64_t firstId, std::int64_t lastId, std::vector<JournalRow>& rows,
                   std::string& error);

    SqliteDatabase database_;
    SqliteStatement range_;
};

}  // namespace torvane
