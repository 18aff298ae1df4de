#include "PassingRecord.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace mylapssim {
namespace {

bool TakeDigits(std::string_view& text, std::size_t minDigits, std::size_t maxDigits, int& value) {
    std::size_t n = 0;
    value = 0;
    while (n < text.size() && n < maxDigits && text[n] >= '0' && text[n] <= '9')
        value = value * 10 + (text[n++] - '0');
    if (n < minDigits) return false;
    text.remove_prefix(n);
    return true;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

}  // namespace

std::string FormatTimeField(TimeFamily family, const TimeOfDay& t) {
    char field[32];
    if (family == TimeFamily::Hundredths)
        std::snprintf(field, sizeof field, " %02d:%02d:%02d.%02d", t.hours, t.minutes, t.seconds,
                      t.milliseconds / 10);
    else
        std::snprintf(field, sizeof field, "%02d:%02d:%02d.%03d", t.hours, t.minutes, t.seconds,
                      t.milliseconds);
    return field;
}

bool ParseTimeText(std::string_view text, TimeOfDay& time) {
    TimeOfDay t;
    if (!TakeDigits(text, 1, 2, t.hours) || !TakeChar(text, ':') ||
        !TakeDigits(text, 2, 2, t.minutes) || !TakeChar(text, ':') ||
        !TakeDigits(text, 2, 2, t.seconds))
        return false;
    if (TakeChar(text, '.')) {
        const std::size_t before = text.size();
        int fraction = 0;
        if (!TakeDigits(text, 1, 3, fraction)) return false;
        const std::size_t digits = before - text.size();
        t.milliseconds = fraction * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
    }
    if (!text.empty() || t.minutes > 59 || t.seconds > 59) return false;
    time = t;
    return true;
}

std::string RecordChecksum(std::string_view firstPositions) {
    unsigned sum = 0;
    for (unsigned char c : firstPositions) sum += c;
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", sum % 256);
    return digits;
}

std::string PadChip(std::string_view chip) {
    std::string padded(chip);
    padded.resize(kChipLength, ' ');
    return padded;
}

std::string ComposeRecord(std::string_view chip, std::string_view timeField, int hits, int signal,
                          std::string_view boxDate) {
    char others[16];
    std::snprintf(others, sizeof others, "  %03d  %03d  ", hits % 1000, signal % 1000);
    std::string record = PadChip(chip);
    record += timeField;
    record += others;
    record += boxDate;
    record += RecordChecksum(record);
    return record;
}

std::string ComposeKeyedRecord(std::string_view chip, const TimeOfDay& time, int hits,
                               std::string_view boxDate) {
    std::string record = "t=" + FormatTimeField(TimeFamily::Thousandths, time);
    record.append("|c=").append(chip);
    record.append("|ct=UH|d=").append(boxDate);
    record.append("|l=").append(std::to_string(hits));
    record.append("|dv=4|re=0|an=00001111|g=0");
    return record;
}

std::string ComposeKeyedMarker(const TimeOfDay& time, long number) {
    const std::string name = "Gunshot " + std::to_string(number);
    return "t=" + FormatTimeField(TimeFamily::Thousandths, time) + "|mt=Gunshot|n=" + name;
}

LocalInstant LocalNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    LocalInstant instant;
    char date[40];
    std::snprintf(date, sizeof date, "%02d%02d%02d", local.tm_year % 100, local.tm_mon + 1,
                  local.tm_mday);
    instant.boxDate = date;
    instant.time = {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis)};
    return instant;
}

}  // namespace mylapssim
