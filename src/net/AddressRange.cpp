#include "net/AddressRange.h"

#include <arpa/inet.h>

#include <charconv>

namespace torvane {
namespace {

bool ParseRange(const std::string& entry, AddressRange& range) {
    const std::size_t slash = entry.find('/');
    const std::string address = entry.substr(0, slash);
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
    int bits = 32;
    if (slash != std::string::npos) {
        const char* first = entry.data() + slash + 1;
        const char* last = entry.data() + entry.size();
        const auto [end, error] = std::from_chars(first, last, bits);
        if (first == last || error != std::errc() || end != last || bits < 0 || bits > 32) {
            return false;
        }
    }
    range.mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    range.network = ntohl(parsed.s_addr) & range.mask;
    return true;
}

}  // namespace

AddressRanges ParseAddressRanges(const std::string& text) {
    AddressRanges result;
    std::size_t at = 0;
    const char* separators = ",; \t";
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(separators, at);
        if (start == std::string::npos) break;
        const std::size_t end = text.find_first_of(separators, start);
        const std::string entry =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        AddressRange range;
        if (ParseRange(entry, range)) {
            result.ranges.push_back(range);
        } else {
            result.refused.push_back(entry);
        }
        at = end == std::string::npos ? text.size() : end;
    }
    return result;
}

bool IsAllowed(const std::vector<AddressRange>& ranges, std::uint32_t address) {
    for (const AddressRange& range : ranges) {
        if (range.Contains(address)) return true;
    }
    return false;
}

std::string AddressText(std::uint32_t address) {
    in_addr raw{};
    raw.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &raw, text, sizeof text);
    return text;
}

}  // namespace torvane
