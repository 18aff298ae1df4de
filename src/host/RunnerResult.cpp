#include "host/RunnerResult.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <variant>
#include <vector>

#include "host/ScanfReader.h"

namespace torvane {

namespace {

using IntField = int RunnerResult::*;
using FloatField = float RunnerResult::*;
struct TextField {
    std::string RunnerResult::*member;
    size_t width;
};
using FieldTarget = std::variant<IntField, FloatField, TextField>;

constexpr size_t kUncut = std::string::npos;
constexpr char kSeparator = '\\';

// The fields of a runner result by number (1 to 21), in the order of the result answer.
const std::array<FieldTarget, 21> kFields = {
    TextField{&RunnerResult::leading1, kUncut},
    TextField{&RunnerResult::leading2, kUncut},
    &RunnerResult::passage,
    &RunnerResult::value4,
    TextField{&RunnerResult::text5, kWideTextWidth},
    TextField{&RunnerResult::text6, kWideTextWidth},
    &RunnerResult::overallRank,
    &RunnerResult::groupBRank,
    &RunnerResult::groupARank,
    &RunnerResult::bib,
    TextField{&RunnerResult::nameText1, kWideTextWidth},
    TextField{&RunnerResult::nameText2, kWideTextWidth},
    TextField{&RunnerResult::groupA, kLabelWidth},
    TextField{&RunnerResult::groupB, kLabelWidth},
    TextField{&RunnerResult::text15, kText15Width},
    TextField{&RunnerResult::text16, kWideTextWidth},
    TextField{&RunnerResult::timeText, kWideTextWidth},
    TextField{&RunnerResult::text18, kLabelWidth},
    &RunnerResult::resultCode,
    TextField{&RunnerResult::text20, kWideTextWidth},
    TextField{&RunnerResult::text21, kWideTextWidth},
};

const FieldTarget& Field(int number) {
    return kFields[static_cast<size_t>(number - 1)];
}

const TextField kTagField{&RunnerResult::leading1, kLabelWidth};

// A tagged record: its tag, then the numbers of the fields it carries, in order.
struct TaggedLayout {
    const char* tag;
    std::vector<int> fieldNumbers;
};

const std::array<TaggedLayout, 3> kTaggedLayouts = {{
    {"hm04", {3, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
    {"hm05", {3, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
    {"hm06", {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
}};

void StoreText(RunnerResult& result, const TextField& field, std::string_view text) {
    result.*field.member = std::string(text.substr(0, field.width));
}

// Each separator ends a field; what follows the last one is a field only when not empty.
std::vector<std::string_view> SplitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (size_t end = text.find(kSeparator); end != std::string_view::npos;
         end = text.find(kSeparator, start)) {
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (start < text.size()) fields.push_back(text.substr(start));
    return fields;
}

void StoreResultAnswerField(RunnerResult& result, const FieldTarget& target,
                            std::string_view text) {
    if (const auto* field = std::get_if<IntField>(&target)) {
        result.** field = ScanIntOrZero(text);
    } else if (const auto* field = std::get_if<FloatField>(&target)) {
        result.** field = ScanFloatOrZero(text);
    } else {
        StoreText(result, std::get<TextField>(target), text);
    }
}

bool ScanField(ScanfReader& reader, RunnerResult& result, const FieldTarget& target) {
    if (const auto* field = std::get_if<IntField>(&target)) {
        const auto value = reader.ReadInt();
        if (value) result.** field = *value;
        return value.has_value();
    }
    if (const auto* field = std::get_if<FloatField>(&target)) {
        const auto value = reader.ReadFloat();
        if (value) result.** field = *value;
        return value.has_value();
    }
    const auto text = reader.ReadTextUntil(kSeparator);
    if (text) StoreText(result, std::get<TextField>(target), *text);
    return text.has_value();
}

// Returns the number of fields filled, as sscanf would: -1 when the line ends before the tag.
int ScanTaggedLayout(std::string_view line, const TaggedLayout& layout, RunnerResult& result) {
    ScanfReader reader(line);
    if (!ScanField(reader, result, kTagField)) return reader.AtEnd() ? -1 : 0;
    int filled = 1;
    for (const int number : layout.fieldNumbers) {
        if (!reader.MatchLiteral(kSeparator)) break;
        if (!ScanField(reader, result, Field(number))) break;
        ++filled;
    }
    return filled;
}

}  // namespace

RunnerResultScan ParseResultAnswer(const std::string& line) {
    constexpr size_t kPrefixLength = 6;  // "RES:1" and its separator
    const std::string_view body =
        std::string_view(line).substr(std::min(kPrefixLength, line.size()));
    const std::vector<std::string_view> fields = SplitFields(body);
    const int count = static_cast<int>(fields.size());
    if (count < kResultAnswerRequiredFields) return {std::nullopt, count};

    RunnerResult result;
    const int used = std::min(count, static_cast<int>(kFields.size()));
    for (int number = 1; number <= used; ++number) {
        StoreResultAnswerField(result, Field(number), fields[static_cast<size_t>(number - 1)]);
    }
    return {result, count};
}

RunnerResultScan ParseTaggedRecord(const std::string& line) {
    int filled = 0;
    for (const TaggedLayout& layout : kTaggedLayouts) {
        RunnerResult result;
        filled = ScanTaggedLayout(line, layout, result);
        const int expected = 1 + static_cast<int>(layout.fieldNumbers.size());
        if (filled == expected && result.leading1 == layout.tag) return {result, filled};
    }
    return {std::nullopt, filled};
}

}  // namespace torvane
