#include "HostRequest.h"

#include <charconv>
#include <vector>

namespace ostraksim {
namespace {

struct Query {
    const char* name;
    int infoNumber;
};

constexpr Query kQueries[] = {
    {"GetMode", 24},    {"GetUserName", 25},         {"GetCompetitionName", 5}, {"GetFilename", 6},
    {"GetVersion", 27}, {"GetPrintableVersion", 28}, {"GetDetectorList", 7},
};

bool TakeNumber(std::string_view& text, std::size_t minDigits, std::size_t maxDigits, long& value) {
    std::size_t n = 0;
    while (n < text.size() && n < maxDigits && text[n] >= '0' && text[n] <= '9') ++n;
    if (n < minDigits) return false;
    std::from_chars(text.data(), text.data() + n, value);
    text.remove_prefix(n);
    return true;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

bool IsInteger(const std::string& text) {
    long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

std::vector<std::string> SplitAtTabs(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\t', start)) != std::string_view::npos; start = at + 1)
        parts.emplace_back(text.substr(start, at - start));
    parts.emplace_back(text.substr(start));
    return parts;
}

HostRequest ReadDetection(std::string_view arguments) {
    HostRequest request;
    request.name = "AddDagClock";
    const std::vector<std::string> parts = SplitAtTabs(arguments);
    if (parts.size() != 5 || !IsInteger(parts[0]) || !IsInteger(parts[3]) || parts[1].empty() ||
        parts[2].empty())
        return request;
    Detection& d = request.detection;
    d = {parts[0], parts[1], parts[2], parts[3], parts[4], 0};
    if (!ParseRaceTime(d.time, d.hundredths)) return request;
    request.kind = RequestKind::AddDagClock;
    return request;
}

}  // namespace

bool ParseRaceTime(std::string_view text, long& hundredths) {
    long h = 0, m = 0, s = 0, f = 0;
    if (!TakeNumber(text, 1, 6, h) || !TakeChar(text, ':') || !TakeNumber(text, 2, 2, m) ||
        !TakeChar(text, ':') || !TakeNumber(text, 2, 2, s) || !TakeChar(text, '.') ||
        !TakeNumber(text, 2, 2, f) || !text.empty() || m > 59 || s > 59)
        return false;
    hundredths = ((h * 60 + m) * 60 + s) * 100 + f;
    return true;
}

HostRequest ParseRequest(std::string_view line) {
    HostRequest request;
    const auto open = line.find('(');
    if (line.empty() || open == std::string_view::npos || open == 0 || line.back() != ')')
        return request;
    request.name = std::string(line.substr(0, open));
    const std::string_view arguments = line.substr(open + 1, line.size() - open - 2);

    if (request.name == "AddDagClock") return ReadDetection(arguments);
    if (request.name == "Ping") {
        request.kind = arguments.empty() ? RequestKind::Ping : RequestKind::Malformed;
        return request;
    }
    for (const Query& query : kQueries) {
        if (request.name != query.name) continue;
        request.kind = arguments.empty() ? RequestKind::Query : RequestKind::Malformed;
        request.infoNumber = query.infoNumber;
        return request;
    }
    request.kind = RequestKind::Unknown;
    return request;
}

}  // namespace ostraksim
