#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

// An IPv4 address or CIDR range ("192.168.1.20", "10.0.0.0/8"), in host byte order.
struct AddressRange {
    std::uint32_t network = 0;
    std::uint32_t mask = 0;
    bool Contains(std::uint32_t address) const { return (address & mask) == network; }
};

struct AddressRanges {
    std::vector<AddressRange> ranges;
    std::vector<std::string> refused;  // entries that are neither an address nor a range
};

// A list of addresses and ranges separated by commas, semicolons or blanks.
AddressRanges ParseAddressRanges(const std::string& text);

// Whether an address (host byte order) is in one of the ranges.
bool IsAllowed(const std::vector<AddressRange>& ranges, std::uint32_t address);

// "a.b.c.d" of an address in host byte order.
std::string AddressText(std::uint32_t address);

}  // namespace torvane
