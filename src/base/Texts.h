#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace torvane {

// Every text the operator sees exists in English and French; this constant picks the set.
inline constexpr bool kFrenchTexts = true;

inline const char* Tr(const char* english, const char* french) {
    return kFrenchTexts ? french : english;
}

// printf-style formatting into a std::string (the program's texts are printf formats).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// Appends a whole number as printf's "%0<minDigits>ld" writes it; for the few texts made for
// every passing, where printf's parsing of the format is most of their cost.
void AppendNumber(std::string& out, long value, int minDigits = 1);

// The text as printf's "%s" takes it: up to its first NUL byte.
std::string_view UpToNul(const std::string& text);

// Removes leading and trailing blanks, tabs, CR and LF.
std::string Trim(const std::string& text);

}  // namespace torvane
