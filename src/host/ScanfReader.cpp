#include "host/ScanfReader.h"

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace torvane {

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The program may run under a locale whose decimal separator is a comma; the host always
// writes a point.
locale_t ClassicLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// sscanf reads on into an exponent marker (and its sign) that no digit follows, and keeps the
// number before it; strtof stops before the marker. Returns the length sscanf consumes.
size_t ExponentMarkerLength(std::string_view text, size_t matched) {
    const std::string_view number = text.substr(0, matched);
    const size_t firstDigit = number.find_first_not_of("+-");
    const bool finite = firstDigit != std::string_view::npos &&
                        (IsDigit(number[firstDigit]) || number[firstDigit] == '.');
    if (!finite || matched >= text.size()) return matched;
    const bool hex = number.find_first_of("xX") != std::string_view::npos;
    const char marker = static_cast<char>(text[matched] | 0x20);  // lower case
    if (marker != (hex ? 'p' : 'e')) return matched;
    ++matched;
    if (matched < text.size() && (text[matched] == '+' || text[matched] == '-')) ++matched;
    return matched;
}

}  // namespace

void ScanfReader::SkipWhiteSpace() {
    while (!AtEnd() && IsWhiteSpace(text_[pos_])) ++pos_;
}

bool ScanfReader::MatchLiteral(char expected) {
    if (AtEnd() || text_[pos_] != expected) return false;
    ++pos_;
    return true;
}

std::optional<int> ScanfReader::ReadInt() {
    SkipWhiteSpace();
    size_t pos = pos_;
    bool negative = false;
    if (pos < text_.size() && (text_[pos] == '+' || text_[pos] == '-')) {
        negative = text_[pos] == '-';
        ++pos;
    }
    if (pos >= text_.size() || !IsDigit(text_[pos])) return std::nullopt;

    constexpr int64_t kLimit = int64_t{std::numeric_limits<int>::max()} + 1;
    int64_t magnitude = 0;
    for (; pos < text_.size() && IsDigit(text_[pos]); ++pos) {
        if (magnitude <= kLimit) magnitude = magnitude * 10 + (text_[pos] - '0');
    }
    pos_ = pos;
    if (negative) return static_cast<int>(-std::min(magnitude, kLimit));
    return static_cast<int>(std::min(magnitude, kLimit - 1));
}

std::optional<float> ScanfReader::ReadFloat() {
    SkipWhiteSpace();
    if (AtEnd()) return std::nullopt;
    const std::string rest(text_.substr(pos_));
    char* end = nullptr;
    const float value = strtof_l(rest.c_str(), &end, ClassicLocale());
    if (end == rest.c_str()) return std::nullopt;
    pos_ += ExponentMarkerLength(rest, static_cast<size_t>(end - rest.c_str()));
    return value;
}

std::optional<std::string> ScanfReader::ReadTextUntil(char stop) {
    const size_t start = pos_;
    while (!AtEnd() && text_[pos_] != stop) ++pos_;
    if (pos_ == start) return std::nullopt;
    return std::string(text_.substr(start, pos_ - start));
}

int ScanIntOrZero(std::string_view text) {
    return ScanfReader(text).ReadInt().value_or(0);
}

float ScanFloatOrZero(std::string_view text) {
    return ScanfReader(text).ReadFloat().value_or(0.0f);
}

}  // namespace torvane
