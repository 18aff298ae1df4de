#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "journal/Journal.h"
#include "journal/JournalRows.h"

namespace torvane {

// Reading the journal file away from its owner: each call opens a read-only connection of its
// own on the file's path, so that it may run on any thread while the journal takes new passings.
// Rows are handled as they are read, a chunk at a time: memory does not grow with the journal.
// `cancelled`, when given, is looked at between chunks.

// The export's first line, and one journaled passing as a row of it: receive time (local to the
// receiving computer), source, record, chip, bib, race time, and the time its first line reached
// the host (empty while none did). Whoever writes the export writes these.
inline constexpr const char* kExportHeader = "received,source,record,chip,bib,race_time,sent\r\n";
void AppendExportRow(std::string& out, std::int64_t receivedUtcMs, std::int64_t utcOffsetSeconds,
                     const std::array<std::string_view, 5>& fields, const std::int64_t* sentUtcMs);

struct JournalReadResult {
    bool done = false;
    std::size_t rows = 0;
    std::string error;  // why it was not done
};

// Writes every journaled passing to a CSV file: receive time, source, record, chip, bib, race
// time, and the time its first line reached the host.
JournalReadResult ExportJournalCsv(const std::string& journalPath, const std::string& csvPath,
                                   const std::atomic<bool>* cancelled = nullptr);

// Writes the passings of a search (JournalRowReader::Find) to a CSV file, as the export does;
// `written`, when given, counts the rows as they go, for a progress bar.
JournalReadResult ExportJournalRowsCsv(const std::string& journalPath, const JournalKeys& keys,
                                       const std::string& csvPath,
                                       std::atomic<std::size_t>* written = nullptr,
                                       const std::atomic<bool>* cancelled = nullptr);

// Hands over, in order and a chunk at a time, the first host line of every journaled passing
// received in [fromUtcMs, toUtcMs]. `onChunk` returns false to stop.
JournalReadResult ReadForwardedSpan(
    const std::string& journalPath, std::int64_t fromUtcMs, std::int64_t toUtcMs,
    std::size_t chunkRows, const std::function<bool(std::vector<ForwardedDetection>)>& onChunk,
    const std::atomic<bool>* cancelled = nullptr);

// The same for the passings of the given ids, in that order; a passing never forwarded is skipped.
JournalReadResult ReadForwardedPassings(
    const std::string& journalPath, const std::vector<std::int64_t>& ids, std::size_t chunkRows,
    const std::function<bool(std::vector<ForwardedDetection>)>& onChunk,
    const std::atomic<bool>* cancelled = nullptr);

// A passing kept back while the flow was closed, as journaled, for sending it on purpose.
struct HeldPassing {
    std::int64_t id = 0;
    PassingKind kind = PassingKind::Store;
    std::string source, record, chip, boxDate;
    std::int64_t receivedUtcMs = 0;
};

// Hands over, in the order given and a chunk at a time, those of the given passings that are
// kept back because the flow was closed and were never forwarded since.
JournalReadResult ReadHeldPassings(const std::string& journalPath,
                                   const std::vector<std::int64_t>& ids, std::size_t chunkRows,
                                   const std::function<bool(std::vector<HeldPassing>)>& onChunk,
                                   const std::atomic<bool>* cancelled = nullptr);

// A passing forwarded under its chip code, the chip being missing from the table then, and not
// yet sent again with a bib.
struct UnknownChipDetection {
    std::int64_t passingId = 0;
    std::string source;
    std::string chip;
    std::string raceTime;
};
JournalReadResult ReadUnknownChipDetections(const std::string& journalPath,
                                            std::vector<UnknownChipDetection>& detections);

// What `status` tells of the race's journal: when it began, its passings (every one journaled:
// forwarded, refused, manual) and its size on disk with the write-ahead log.
struct JournalSummary {
    std::int64_t beganUtcMs = 0;
    std::int64_t passings = 0;
    std::int64_t firstReceivedUtcMs = 0;  // 0 without passings
    std::int64_t bytes = 0;
};
JournalReadResult ReadJournalSummary(const std::string& journalPath, JournalSummary& summary);

}  // namespace torvane
