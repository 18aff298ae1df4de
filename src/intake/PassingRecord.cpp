#include "intake/PassingRecord.h"

#include <algorithm>
#include <optional>

namespace torvane {
namespace {

constexpr std::string_view kQuoteCut = "...";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads `minDigits` to `maxDigits` digits at the front of `text` as a number no greater than
// `highest`, and removes them.
std::optional<int> TakeNumber(std::string_view& text, std::size_t minDigits, std::size_t maxDigits,
                              int highest) {
    std::size_t count = 0;
    int value = 0;
    while (count < text.size() && count < maxDigits && IsDigit(text[count]))
        value = value * 10 + (text[count++] - '0');
    if (count < minDigits || value > highest) return std::nullopt;
    text.remove_prefix(count);
    return value;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

void AppendTwoDigits(std::string& out, int value) {
    out += static_cast<char>('0' + value / 10);
    out += static_cast<char>('0' + value % 10);
}

std::string Quote(std::string_view record) {
    if (record.size() <= kMaxQuotedRecordLength) return std::string(record);
    std::string quoted(record.substr(0, kMaxQuotedRecordLength - kQuoteCut.size()));
    quoted += kQuoteCut;
    return quoted;
}

struct RecordValues {
    std::optional<std::string_view> chip, time, date;
};

// Splits the record at "|" and each pair at its first "="; the first "c", "t" and "d" count.
RecordValues FindValues(std::string_view record) {
    RecordValues values;
    for (std::size_t start = 0;;) {
        const std::size_t bar = record.find('|', start);
        const std::string_view pair =
            record.substr(start, bar == std::string_view::npos ? bar : bar - start);
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos) {
            const std::string_view key = pair.substr(0, equals);
            const std::string_view value = pair.substr(equals + 1);
            if (key == "c" && !values.chip) values.chip = value;
            if (key == "t" && !values.time) values.time = value;
            if (key == "d" && !values.date) values.date = value;
        }
        if (bar == std::string_view::npos) return values;
        start = bar + 1;
    }
}

}  // namespace

std::string ThousandthsTimeField(std::string_view text) {
    const auto hours = TakeNumber(text, 1, 2, 23);
    if (!hours || !TakeChar(text, ':')) return {};
    const auto minutes = TakeNumber(text, 2, 2, 59);
    if (!minutes || !TakeChar(text, ':')) return {};
    const auto seconds = TakeNumber(text, 2, 2, 59);
    if (!seconds) return {};

    std::string fraction;
    if (TakeChar(text, '.')) {
        std::size_t digits = 0;
        while (digits < text.size() && IsDigit(text[digits])) ++digits;
        if (digits == 0) return {};
        fraction.assign(text.substr(0, std::min<std::size_t>(digits, 3)));
        text.remove_prefix(digits);
    }
    if (!text.empty()) return {};
    fraction.resize(3, '0');

    std::string field;
    field.reserve(12);
    AppendTwoDigits(field, *hours);
    field += ':';
    AppendTwoDigits(field, *minutes);
    field += ':';
    AppendTwoDigits(field, *seconds);
    field += '.';
    field += fraction;
    return field;
}

PassingRecord ReadPassingRecord(std::string_view record, std::string_view today) {
    PassingRecord read;
    read.quoted = Quote(record);
    const RecordValues values = FindValues(record);

    if (values.chip) read.chip.assign(values.chip->substr(0, kMaxChipLength));
    if (values.time) read.time.assign(values.time->substr(0, kMaxValueLength));
    if (values.date && !values.date->empty())
        read.boxDate = "20" + std::string(values.date->substr(0, kBoxDateLength));
    else
        read.boxDate.assign(today);

    if (read.chip.empty()) {
        read.fault = PassingRecord::Fault::NoChip;
    } else if (read.time.empty()) {
        read.fault = PassingRecord::Fault::NoTime;
    } else {
        // The whole value is checked: only its display is cut.
        read.timeField = ThousandthsTimeField(*values.time);
        if (read.timeField.empty()) read.fault = PassingRecord::Fault::BadTime;
    }
    return read;
}

}  // namespace torvane
