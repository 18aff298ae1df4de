#pragma once

#include <string>
#include <string_view>

namespace torvane {

// One record of a "Passing" message: "key=value" pairs joined by "|", in any order. Only "c"
// (chip code), "t" (time of day hh:mm:ss.fff, more decimals allowed) and "d" (date YYMMDD) are
// read; other keys are skipped, and of a repeated key the first one counts.
struct PassingRecord {
    enum class Fault { None, NoChip, NoTime, BadTime };

    Fault fault = Fault::None;
    std::string quoted;     // the record as received, for the operator (a long one is cut)
    std::string chip;       // "c", at most kMaxChipLength characters
    std::string time;       // "t" as received, at most kMaxValueLength characters
    std::string timeField;  // "t" as a thousandths time field hh:mm:ss.fff, when usable
    std::string boxDate;    // "20" + "d" (at most 6 characters, as a Store record gives it),
                            // or the day of receipt when "d" is missing or empty

    bool IsUsable() const { return fault == Fault::None; }
};

// Longest chip code kept: the longest key of the chip table, so that every chip the table can
// translate is kept whole.
inline constexpr std::size_t kMaxChipLength = 63;
// Longest time text kept, and longest quotation of a record.
inline constexpr std::size_t kMaxValueLength = 63;
inline constexpr std::size_t kMaxQuotedRecordLength = 255;
// A box date is six characters, YYMMDD.
inline constexpr std::size_t kBoxDateLength = 6;

// `today` (YYYYMMDD) is the box date of a record without a date. Any bytes are safe.
PassingRecord ReadPassingRecord(std::string_view record, std::string_view today);

// "hh:mm:ss" (one or two digits of hours, 0 to 23; minutes and seconds 0 to 59), then
// optionally "." and at least one digit, of which the first three are read as thousandths.
// Gives "hh:mm:ss.fff", or an empty text when `text` is not such a time.
std::string ThousandthsTimeField(std::string_view text);

}  // namespace torvane
