#pragma once

#include <string>
#include <string_view>

#include "Options.h"

namespace mylapssim {

constexpr std::size_t kRecordLength = 39;
constexpr std::size_t kChipLength = 7;

struct TimeOfDay {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int milliseconds = 0;
};

// The 12-character time field: " HH:MM:SS.hh" (hundredths, truncated) or "HH:MM:SS.mmm".
std::string FormatTimeField(TimeFamily family, const TimeOfDay& time);

// Reads "H:MM:SS" or "H:MM:SS.f" (1 to 3 fraction digits, a decimal fraction of a second).
// Hours 0 to 99, minutes and seconds 0 to 59.
bool ParseTimeText(std::string_view text, TimeOfDay& time);

// Two upper-case hexadecimal digits: the byte sum of the text modulo 256.
std::string RecordChecksum(std::string_view firstPositions);

// Pads a chip code to 7 characters with blanks on the right; the code must not be longer.
std::string PadChip(std::string_view chip);

// The full 39-character record; the chip is padded, the checksum computed.
std::string ComposeRecord(std::string_view chip, std::string_view timeField, int hits, int signal,
                          std::string_view boxDate);

// A record of the passing dialect: "t=HH:MM:SS.mmm|c=<chip>|ct=UH|d=<date>|l=<hits>|..."
// with the keys a decoder adds; the chip is taken as it is.
std::string ComposeKeyedRecord(std::string_view chip, const TimeOfDay& time, int hits,
                               std::string_view boxDate);

// The field of a "Marker" message in the passing dialect.
std::string ComposeKeyedMarker(const TimeOfDay& time, long number);

// The local date ("YYMMDD") and time of day of the current instant.
struct LocalInstant {
    std::string boxDate;
    TimeOfDay time;
};
LocalInstant LocalNow();

}  // namespace mylapssim
