#include "base/Chrono.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ctime>
#include <limits>
#include <optional>

#include "base/Clock.h"
#include "base/Texts.h"

namespace torvane {
namespace {

// Numbers are read with the C scanner's rules (blanks skipped before a number, an optional
// "+", at least one digit); literal separators must follow at once. Digits beyond what any
// time can use saturate instead of overflowing.
constexpr std::int64_t kNumberCeiling = 1'000'000'000'000LL;

enum class ScanStatus { Ok, Mismatch, Negative };

class TimeScanner {
public:
    explicit TimeScanner(const std::string& text) : text_(text) {}

    ScanStatus Number(std::int64_t& out) {
        std::size_t digitsAt = 0;
        const ScanStatus status = Sign(digitsAt);
        if (status != ScanStatus::Ok) return status;
        std::int64_t value = 0;
        for (; digitsAt < text_.size() && IsDigit(text_[digitsAt]); ++digitsAt) {
            value = std::min(value * 10 + (text_[digitsAt] - '0'), kNumberCeiling);
        }
        out = value;
        pos_ = digitsAt;
        return ScanStatus::Ok;
    }

    // A fraction read by its digits: the first two are hundredths, a third thousandths, any
    // further digit is ignored.
    ScanStatus Fraction(std::uint16_t& milliseconds) {
        std::size_t digitsAt = 0;
        const ScanStatus status = Sign(digitsAt);
        if (status != ScanStatus::Ok) return status;
        int value = 0;
        int weight = 100;
        for (; digitsAt < text_.size() && IsDigit(text_[digitsAt]); ++digitsAt) {
            value += (text_[digitsAt] - '0') * weight;
            weight /= 10;
        }
        milliseconds = static_cast<std::uint16_t>(value);
        pos_ = digitsAt;
        return ScanStatus::Ok;
    }

    bool Literal(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }

private:
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    // Skips blanks and an optional sign; `digitsAt` is where the first digit must stand.
    ScanStatus Sign(std::size_t& digitsAt) {
        std::size_t at = pos_;
        while (at < text_.size() && std::isspace(static_cast<unsigned char>(text_[at]))) ++at;
        bool negative = false;
        if (at < text_.size() && (text_[at] == '+' || text_[at] == '-')) {
            negative = text_[at] == '-';
            ++at;
        }
        if (at >= text_.size() || !IsDigit(text_[at])) return ScanStatus::Mismatch;
        if (negative) return ScanStatus::Negative;
        digitsAt = at;
        return ScanStatus::Ok;
    }

    const std::string& text_;
    std::size_t pos_ = 0;
};

struct ScannedTime {
    std::int64_t hours = 0, minutes = 0, seconds = 0, fraction = 0;
    std::uint16_t fractionMilliseconds = 0;
};

enum class FractionKind { None, Hundredths, WholeThousandths };

// Scans "h<sep>m<sep>s" and, unless `fraction` is None, "<.>f". Negative when a negative
// number was met, Mismatch when the form does not yield its full count.
ScanStatus ScanForm(const std::string& text, char separator, FractionKind fraction,
                    ScannedTime& out) {
    TimeScanner scanner(text);
    std::int64_t* fields[] = {&out.hours, &out.minutes, &out.seconds};
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && !scanner.Literal(separator)) return ScanStatus::Mismatch;
        const ScanStatus status = scanner.Number(*fields[i]);
        if (status != ScanStatus::Ok) return status;
    }
    if (fraction == FractionKind::None) return ScanStatus::Ok;
    if (!scanner.Literal('.')) return ScanStatus::Mismatch;
    return fraction == FractionKind::Hundredths ? scanner.Fraction(out.fractionMilliseconds)
                                                : scanner.Number(out.fraction);
}

struct FormSpec {
    char separator;
    FractionKind fraction;
};

// The first form that yields its full count wins; a negative number refuses the whole text.
std::optional<ScannedTime> ScanFirstForm(const std::string& text, const FormSpec* forms,
                                         int formCount) {
    for (int i = 0; i < formCount; ++i) {
        ScannedTime scanned;
        const ScanStatus status = ScanForm(text, forms[i].separator, forms[i].fraction, scanned);
        if (status == ScanStatus::Negative) return std::nullopt;
        if (status == ScanStatus::Ok) return scanned;
    }
    return std::nullopt;
}

std::optional<std::int32_t> TotalSeconds(std::int64_t hours, std::int64_t minutes,
                                         std::int64_t seconds) {
    const std::int64_t total = (hours * 60 + minutes) * 60 + seconds;
    if (total > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(total);
}

std::int32_t WrapToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(value);
}

// HH:MM:SS of the local time of an absolute instant.
std::string LocalClockText(std::int32_t seconds) {
    std::tm tm{};
    if (!clock::LocalTime(seconds, tm)) return "00:00:00";
    return Format("%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace

void CChrono::Reset() {
    seconds = 0;
    milliseconds = 0;
}

bool CChrono::IsSet() const {
    return seconds != 0 || milliseconds != 0;
}

void CChrono::SetNow() {
    const clock::Instant now = clock::Now();
    seconds = WrapToInt32(now.seconds);
    milliseconds = static_cast<std::uint16_t>(now.milliseconds);
}

bool CChrono::ParseTime(const std::string& text) {
    static constexpr FormSpec kForms[] = {{':', FractionKind::Hundredths},
                                          {'.', FractionKind::Hundredths},
                                          {'.', FractionKind::None},
                                          {':', FractionKind::None}};
    const auto scanned = ScanFirstForm(text, kForms, 4);
    if (!scanned) return false;
    const auto total = TotalSeconds(scanned->hours, scanned->minutes, scanned->seconds);
    if (!total) return false;
    seconds = *total;
    milliseconds = scanned->fractionMilliseconds;
    return true;
}

bool CChrono::ParseMilliTime(const std::string& text) {
    static constexpr FormSpec kForms[] = {{':', FractionKind::WholeThousandths},
                                          {'.', FractionKind::WholeThousandths}};
    const auto scanned = ScanFirstForm(text, kForms, 2);
    if (!scanned) return false;
    // Whole seconds in the fraction carry into the seconds; seconds and minutes above 59 carry
    // on by the arithmetic itself.
    const auto total =
        TotalSeconds(scanned->hours, scanned->minutes, scanned->seconds + scanned->fraction / 1000);
    if (!total) return false;
    seconds = *total;
    milliseconds = static_cast<std::uint16_t>(scanned->fraction % 1000);
    return true;
}

CChrono CChrono::operator+(const CChrono& other) const {
    std::int64_t sumSeconds = static_cast<std::int64_t>(seconds) + other.seconds;
    int sumMilliseconds = milliseconds + other.milliseconds;
    if (sumMilliseconds >= 1000) {
        ++sumSeconds;
        sumMilliseconds -= 1000;
    }
    return CChrono(WrapToInt32(sumSeconds), static_cast<std::uint16_t>(sumMilliseconds));
}

void CChrono::AddTodayMidnight() {
    std::tm now{};
    if (!clock::LocalTime(clock::Now().seconds, now)) return;
    const std::int64_t midnight = clock::MakeLocal(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
    seconds = WrapToInt32(seconds + midnight);
}

void CChrono::ToTimeOfDay() {
    std::tm local{};
    if (!clock::LocalTime(seconds, local)) return;
    seconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

bool CChrono::AddDays(int dayCount) {
    const std::int64_t sum = seconds + static_cast<std::int64_t>(dayCount) * 86400;
    if (sum > std::numeric_limits<std::int32_t>::max() ||
        sum < std::numeric_limits<std::int32_t>::min()) {
        return false;
    }
    seconds = static_cast<std::int32_t>(sum);
    return true;
}

std::string CChrono::FormatElapsed() const {
    if (!IsSet()) return "00:00:00.00";
    // "%02ld:%02ld:%02ld.%02d", written directly: this runs for every passing.
    std::string text;
    text.reserve(11);
    AppendNumber(text, static_cast<long>(seconds / 3600), 2);
    text += ':';
    AppendNumber(text, static_cast<long>((seconds % 3600) / 60), 2);
    text += ':';
    AppendNumber(text, static_cast<long>(seconds % 60), 2);
    text += '.';
    AppendNumber(text, milliseconds / 10, 2);
    return text;
}

std::string CChrono::FormatClock() const {
    if (!IsSet()) return "00:00:00.00";
    return Format("%.8s.%02d", LocalClockText(seconds).c_str(), milliseconds / 10);
}

std::string CChrono::FormatClockSeconds() const {
    if (!IsSet()) return "00:00:00";
    return LocalClockText(seconds);
}

}  // namespace torvane
