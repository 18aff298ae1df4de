#pragma once

#include <cstdint>
#include <string_view>

namespace torvane {

// The key under which a source's record is looked up (a 64-bit hash of both).
std::int64_t RecordKey(std::string_view source, std::string_view record);
// The time of day a record carries, as its text (the value of "t=" in a record of key=value
// pairs, else the time field of a fixed-width record); what orders the journal's index of
// records. Empty when the record has neither.
std::string_view RecordTimeKey(std::string_view record);

}  // namespace torvane
