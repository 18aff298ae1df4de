#include "journal/RecordKey.h"

namespace torvane {

std::string_view RecordTimeKey(std::string_view record) {
    // A record of key=value pairs: the value of its "t=" pair.
    for (std::size_t at = 0; at <= record.size();) {
        std::size_t end = record.find('|', at);
        if (end == std::string_view::npos) end = record.size();
        const std::string_view pair = record.substr(at, end - at);
        if (pair.substr(0, 2) == "t=") return pair.substr(2);
        at = end + 1;
    }
    // A fixed-width record: its time field.
    constexpr std::size_t kTimeAt = 7, kTimeWidth = 12;
    if (record.size() >= kTimeAt + kTimeWidth) return record.substr(kTimeAt, kTimeWidth);
    return {};
}

std::int64_t RecordKey(std::string_view source, std::string_view record) {
    // FNV-1a over the source, a separator no name holds, and the record.
    std::uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](std::string_view bytes) {
        for (unsigned char c : bytes) {
            hash ^= c;
            hash *= 1099511628211ull;
        }
    };
    mix(source);
    mix(std::string_view("\x1f", 1));
    mix(record);
    return static_cast<std::int64_t>(hash);
}

}  // namespace torvane
