#include "host/RunnerResult.h"

#include <gtest/gtest.h>

#include <climits>

#include "core/HostTestAnswers.h"

namespace torvane {
namespace {

using test::AcceptedRunnerFields;
using test::ResultAnswer;
using test::TaggedRecord;
using test::WithFields;

struct OptionalFieldsCase {
    std::string extra;
    int count;
    std::string text20;
    std::string text21;
};

TEST(RunnerResultTest, OptionalFieldsTwentyAndTwentyOne) {
    const std::vector<OptionalFieldsCase> cases = {
        {"", 19, "", ""},
        {"\\", 19, "", ""},
        {"\\t20", 20, "t20", ""},
        {"\\t20\\", 20, "t20", ""},
        {"\\\\t21", 21, "", "t21"},
        {"\\t20\\t21", 21, "t20", "t21"},
        {"\\t20\\t21\\t22", 22, "t20", "t21"},
    };
    for (const OptionalFieldsCase& testCase : cases) {
        const auto scan = ParseResultAnswer(ResultAnswer(AcceptedRunnerFields()) + testCase.extra);
        ASSERT_TRUE(scan.result) << testCase.extra;
        EXPECT_EQ(scan.fieldCount, testCase.count) << testCase.extra;
        EXPECT_EQ(scan.result->text20, testCase.text20) << testCase.extra;
        EXPECT_EQ(scan.result->text21, testCase.text21) << testCase.extra;
        EXPECT_EQ(scan.result->resultCode, 3) << testCase.extra;
    }
}

struct TextWidth {
    int fieldNumber;
    std::string RunnerResult::*member;
    size_t width;
};

const std::vector<TextWidth> kTextWidths = {
    {5, &RunnerResult::text5, 255},      {6, &RunnerResult::text6, 255},
    {11, &RunnerResult::nameText1, 255}, {12, &RunnerResult::nameText2, 255},
    {13, &RunnerResult::groupA, 19},     {14, &RunnerResult::groupB, 19},
    {15, &RunnerResult::text15, 49},     {16, &RunnerResult::text16, 255},
    {17, &RunnerResult::timeText, 255},  {18, &RunnerResult::text18, 19},
};

// Each text field one character too long, and again far too long, filled with its own letter.
std::vector<std::string> OverlongTextFields(size_t excess) {
    std::map<int, std::string> changes;
    for (const TextWidth& field : kTextWidths) {
        changes[field.fieldNumber] =
            std::string(field.width + excess, static_cast<char>('a' + field.fieldNumber));
    }
    return WithFields(AcceptedRunnerFields(), changes);
}

void ExpectCutToWidths(const RunnerResultScan& scan, const std::string& context) {
    ASSERT_TRUE(scan.result) << context;
    for (const TextWidth& field : kTextWidths) {
        EXPECT_EQ((*scan.result).*field.member,
                  std::string(field.width, static_cast<char>('a' + field.fieldNumber)))
            << context << " field " << field.fieldNumber;
    }
    EXPECT_EQ(scan.result->bib, 123) << context;
    EXPECT_EQ(scan.result->resultCode, 3) << context;
}

TEST(RunnerResultTest, OverlongTextsCutToTheirWidths) {
    for (const size_t excess : {size_t{1}, size_t{500}}) {
        const auto fields = OverlongTextFields(excess);
        const std::string context = "excess " + std::to_string(excess);
        ExpectCutToWidths(ParseResultAnswer(ResultAnswer(fields) + "\\" + std::string(300, 'u') +
                                            "\\" + std::string(256, 'v')),
                          "result answer, " + context);
        ExpectCutToWidths(ParseTaggedRecord(TaggedRecord("hm06", test::kHm06Fields, fields)),
                          "hm06, " + context);
    }
    const auto scan = ParseResultAnswer(ResultAnswer(AcceptedRunnerFields()) + "\\" +
                                        std::string(300, 'u') + "\\" + std::string(256, 'v'));
    ASSERT_TRUE(scan.result);
    EXPECT_EQ(scan.result->text20, std::string(255, 'u'));
    EXPECT_EQ(scan.result->text21, std::string(255, 'v'));
}

TEST(RunnerResultTest, OverlongTagNeverMatches) {
    const auto scan = ParseTaggedRecord(
        TaggedRecord("hm06" + std::string(30, ' '), test::kHm06Fields, AcceptedRunnerFields()));
    EXPECT_FALSE(scan.result);
    EXPECT_EQ(scan.fieldCount, 18);
}

// The fields that the summary does not show; the others are checked through the decoder.
TEST(RunnerResultTest, TaggedLayoutsFillTheirFieldsOnly) {
    const auto fields = WithFields(AcceptedRunnerFields(), {{4, "-2.25"}});
    struct LayoutCase {
        std::string tag;
        std::vector<int> fieldNumbers;
        float value4;
        std::string text5;
        std::string text6;
    };
    const std::vector<LayoutCase> cases = {
        {"hm04", test::kHm04Fields, 0.0f, "", ""},
        {"hm05", test::kHm05Fields, -2.25f, "t5", ""},
        {"hm06", test::kHm06Fields, -2.25f, "t5", "t6"},
    };
    for (const LayoutCase& layout : cases) {
        const auto scan = ParseTaggedRecord(TaggedRecord(layout.tag, layout.fieldNumbers, fields));
        ASSERT_TRUE(scan.result) << layout.tag;
        EXPECT_EQ(scan.fieldCount, static_cast<int>(layout.fieldNumbers.size()) + 1);
        EXPECT_EQ(scan.result->leading1, layout.tag);
        EXPECT_EQ(scan.result->leading2, "") << layout.tag;
        EXPECT_EQ(scan.result->value4, layout.value4) << layout.tag;
        EXPECT_EQ(scan.result->text5, layout.text5) << layout.tag;
        EXPECT_EQ(scan.result->text6, layout.text6) << layout.tag;
        EXPECT_EQ(scan.result->text16 + scan.result->text18, "t16t18") << layout.tag;
    }
}

struct NumberCase {
    std::string text;
    int asInt;
    float asFloat;
};

// The same number texts read into an integer field (bib) and the fraction field (value4).
TEST(RunnerResultTest, NumberFieldsReadLikeScanf) {
    const std::vector<NumberCase> cases = {
        {"42", 42, 42.0f},
        {"  -17", -17, -17.0f},
        {"+8", 8, 8.0f},
        {"\t3.75", 3, 3.75f},
        {"12abc", 12, 12.0f},
        {"2,5", 2, 2.0f},
        {".5", 0, 0.5f},
        {"", 0, 0.0f},
        {"abc", 0, 0.0f},
        {"-", 0, 0.0f},
        {"+-3", 0, 0.0f},
        {"99999999999", INT_MAX, 99999999999.0f},
        {"-99999999999", INT_MIN, -99999999999.0f},
        {"2147483647", INT_MAX, 2147483647.0f},
        {"-2147483648", INT_MIN, -2147483648.0f},
    };
    for (const NumberCase& testCase : cases) {
        const auto scan = ParseResultAnswer(ResultAnswer(
            WithFields(AcceptedRunnerFields(), {{4, testCase.text}, {10, testCase.text}})));
        ASSERT_TRUE(scan.result) << testCase.text;
        EXPECT_EQ(scan.result->bib, testCase.asInt) << testCase.text;
        EXPECT_FLOAT_EQ(scan.result->value4, testCase.asFloat) << testCase.text;
    }
}

}  // namespace
}  // namespace torvane
