#pragma once

#include <cstdarg>
#include <string>

namespace torvane {

// Every text the operator sees exists in English and French; this constant picks the set.
inline constexpr bool kFrenchTexts = true;

inline const char* Tr(const char* english, const char* french) {
    return kFrenchTexts ? french : english;
}

// printf-style formatting into a std::string (the program's texts are printf formats).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// Removes leading and trailing blanks, tabs, CR and LF.
std::string Trim(const std::string& text);

}  // namespace torvane
