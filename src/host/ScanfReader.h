#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// Reads a text piece by piece the way sscanf does with "%d", "%f", "%[^c]" and literal
// characters, without writing into fixed buffers. Each read consumes what it matched.
class ScanfReader {
public:
    explicit ScanfReader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }

    // A literal character of the layout: consumed when it is the next one.
    bool MatchLiteral(char expected);
    // "%d": leading white space skipped, optional sign, at least one digit. A number beyond the
    // range of int gives the nearest limit.
    std::optional<int> ReadInt();
    // "%f": leading white space skipped, decimal point '.' whatever the locale.
    std::optional<float> ReadFloat();
    // "%[^stop]": at least one character, white space kept.
    std::optional<std::string> ReadTextUntil(char stop);

private:
    void SkipWhiteSpace();

    std::string_view text_;
    size_t pos_ = 0;
};

// sscanf's "%d" applied to a whole text; 0 when no number starts it.
int ScanIntOrZero(std::string_view text);
// sscanf's "%f" applied to a whole text; 0.0 when no number starts it.
float ScanFloatOrZero(std::string_view text);

}  // namespace torvane
