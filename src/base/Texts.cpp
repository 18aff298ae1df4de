#include "base/Texts.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <vector>

namespace torvane {

std::string FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    const int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (length < 0) return {};
    if (static_cast<size_t>(length) < sizeof small) return std::string(small, length);
    std::string result(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(result.data(), result.size(), format, args);
    result.resize(static_cast<size_t>(length));
    return result;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string result = FormatV(format, args);
    va_end(args);
    return result;
}

void AppendNumber(std::string& out, long value, int minDigits) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    // As printf: the width counts the sign, and the zeros go between the sign and the digits.
    const bool negative = value < 0;
    const long width = static_cast<long>(end - digits);
    if (negative) out += '-';
    if (width < minDigits) out.append(static_cast<std::size_t>(minDigits - width), '0');
    out.append(digits + (negative ? 1 : 0), end);
}

std::string_view UpToNul(const std::string& text) {
    return std::string_view(text.c_str());
}

std::optional<Language> ParseLanguage(std::string_view text) {
    std::string code = Trim(std::string(text));
    for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (code == "fr") return Language::French;
    if (code == "en") return Language::English;
    return std::nullopt;
}

const char* LanguageCode(Language language) {
    return language == Language::French ? "fr" : "en";
}

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace torvane
