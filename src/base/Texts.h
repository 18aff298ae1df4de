#pragma once

#include <atomic>
#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// Every text the operator sees exists in English and French; the language picks the set.
enum class Language { French, English };

namespace detail {
inline std::atomic<bool> frenchTexts{true};
}

// Chosen once at start-up, before any text is made (French until then): texts already made
// keep their language.
inline void SetLanguage(Language language) {
    detail::frenchTexts.store(language == Language::French, std::memory_order_relaxed);
}
inline bool FrenchTexts() {
    return detail::frenchTexts.load(std::memory_order_relaxed);
}
inline Language CurrentLanguage() {
    return FrenchTexts() ? Language::French : Language::English;
}

inline const char* Tr(const char* english, const char* french) {
    return FrenchTexts() ? french : english;
}

// "fr" or "en", in any case and between blanks; nothing for any other text.
std::optional<Language> ParseLanguage(std::string_view text);
// "fr" or "en".
const char* LanguageCode(Language language);

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
