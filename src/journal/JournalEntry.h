#pragma once

#include <cstdint>
#include <string>

namespace torvane {

// Why a journaled passing was not forwarded: the journal's own words, read by its exports.
namespace not_forwarded {
inline constexpr const char* kBadTime = "bad time";
inline constexpr const char* kNoChip = "no chip";
inline constexpr const char* kNoTime = "no time";
inline constexpr const char* kFlowClosed = "flow closed";
inline constexpr const char* kUnknownChip = "unknown chip";
}  // namespace not_forwarded

enum class PassingKind : int { Store = 0, Passing = 1, Manual = 2 };

// One passing as received, or one manual detection, with the detection made from it.
struct JournalEntry {
    PassingKind kind = PassingKind::Store;
    std::string source;  // the source's name, or the detector of a manual detection
    std::string record;  // the record as received (a manual detection: what the operator gave)
    std::string token;   // the message's acknowledgement token
    std::int64_t receivedUtcMs = 0;
    int utcOffsetSeconds = 0;  // local time = UTC + offset
    // The detection; empty texts where none was made (a bad time, a closed flow...).
    std::string chip;
    std::string bib;  // the bib, or the chip code of a chip missing from the table
    std::string raceTime;
    std::string boxDate;  // YYYYMMDD
    // Why no detection was forwarded (a bad time, a closed flow...); empty when one was.
    std::string reason;
};

}  // namespace torvane
