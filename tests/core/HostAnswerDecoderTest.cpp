#include "host/HostAnswerDecoder.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/HostTestAnswers.h"

namespace torvane {
namespace {

using test::AcceptedRunnerFields;
using test::ResultAnswer;
using test::TaggedRecord;
using test::WithFields;
using LogLines = std::vector<std::pair<int, std::string>>;

struct ExpectedSummary {
    std::string name;
    int bib;
    std::string time;
    std::string passage;
    std::string status;
    int errorFlag;
};

struct DecoderCase {
    std::string title;
    std::string line;
    LogLines logLines;
    std::optional<ExpectedSummary> summary;
};

void PrintTo(const DecoderCase& testCase, std::ostream* out) {
    *out << testCase.title;
}

std::string DecodingError(int count) {
    return "$$$ Erreur décodage réponse Ostrak: (ret=" + std::to_string(count) + ")";
}

const std::string kAcceptedLog = "%%%% Temps pris en compte pour le coureur";
const std::string kDupontJean = "DUPONT Jean                   ";  // padded to 30
const ExpectedSummary kAcceptedSummary{
    kDupontJean, 123, "01:02:03", ".", "5ème - 2ème F20 - 3ème Elite", 0};

ExpectedSummary AcceptedSummaryWith(std::string status) {
    ExpectedSummary summary = kAcceptedSummary;
    summary.status = std::move(status);
    return summary;
}

ExpectedSummary RejectedSummary(std::string codeText) {
    ExpectedSummary summary = AcceptedSummaryWith(std::move(codeText));
    summary.errorFlag = 1;
    return summary;
}

std::vector<DecoderCase> SimpleAnswerCases() {
    return {
        {"ErrorKnownCode", "ERR:103", {{0, "$$$ Commande inconnue"}}, {}},
        {"ErrorUnknownCode", "ERR:999", {{0, "$$$ Status inconnu (999)"}}, {}},
        {"ErrorCodeAfterBlanks", "ERR:  -5", {{0, "$$$ Coureur inconnu"}}, {}},
        {"ErrorWithoutNumber", "ERR:", {{0, "$$$ Can't decode ERR:"}}, {}},
        {"ErrorWithWord", "ERR:abc", {{0, "$$$ Can't decode ERR:abc"}}, {}},
        {"InformationPing", "NFO:20", {{0, "$$$ Ping"}}, {}},
        {"InformationWithText", "NFO:27 3.2", {{0, "$$$ Version: 3.2"}}, {}},
        {"InformationUnknownNumber", "NFO:26 a b", {{0, "$$$ Commande inconnue: a b"}}, {}},
        {"InformationTabIsNoBlank", "NFO:5\tCourse", {{0, "$$$ Nom de la compétition"}}, {}},
        {"InformationWithoutNumber", "NFO:", {{0, "$$$ Can't decode NFO:"}}, {}},
        {"PrefixesAreCaseSensitive", "nfo:20", {{0, DecodingError(1)}}, {}},
        {"EmptyLine", "", {{0, DecodingError(-1)}}, {}},
        {"LineStartingWithSeparator", "\\hm04\\1", {{0, DecodingError(0)}}, {}},
    };
}

std::vector<DecoderCase> ResultAnswerCases() {
    const auto fields = AcceptedRunnerFields();
    const std::vector<std::string> eighteen(fields.begin(), fields.end() - 1);
    const std::string twentyFiveLetters(25, 'F');
    return {
        {"Accepted", ResultAnswer(fields), {{100, kAcceptedLog}}, kAcceptedSummary},
        {"AcceptedWithTwentyOneFields",
         ResultAnswer(WithFields(fields, {})) + "\\t20\\t21",
         {{100, kAcceptedLog}},
         kAcceptedSummary},
        {"AcceptedWithoutRanking",
         ResultAnswer(WithFields(fields, {{7, "0"}})),
         {{100, kAcceptedLog}},
         AcceptedSummaryWith("F20 - t15")},
        {"MasculineFirstRanks",
         ResultAnswer(WithFields(fields, {{7, "1"}, {8, "1"}, {9, "1"}, {13, "M40"}})),
         {{100, kAcceptedLog}},
         AcceptedSummaryWith("1er - 1er M40 - 1er Elite")},
        {"FeminineFirstAndUnknownRanks",
         ResultAnswer(WithFields(fields, {{7, "1"}, {8, "0"}, {9, "12"}})),
         {{100, kAcceptedLog}},
         AcceptedSummaryWith("1ère - 12ème F20 - ?ème Elite")},
        {"TimeUnchanged",
         ResultAnswer(WithFields(fields, {{19, "0"}})),
         {{100, "%%%% Temps du coureur inchangé"},
          {0, "------------------------ Temps du coureur inchangé"}},
         RejectedSummary("Temps du coureur inchangé")},
        {"UnknownResultCode",
         ResultAnswer(WithFields(fields, {{19, "42"}})),
         {{100, "%%%% Status inconnu (42)"}, {0, "------------------------ Status inconnu (42)"}},
         RejectedSummary("Status inconnu (42)")},
        {"ControlTimeMakesNoSummary",
         ResultAnswer(WithFields(fields, {{19, "-8"}})),
         {{0, "%%%% Temps de contrôle"}},
         {}},
        {"ZeroTimeBlankAndOtherPassage",
         ResultAnswer(WithFields(fields, {{3, "4"}, {17, "00:00:00"}})),
         {{100, kAcceptedLog}},
         ExpectedSummary{kDupontJean, 123, "        ", "p4", kAcceptedSummary.status, 0}},
        {"NumbersThatAreNoNumbersCountZero",
         ResultAnswer(WithFields(fields, {{3, "x"}, {10, " 77kg"}, {7, "-"}})),
         {{100, kAcceptedLog}},
         ExpectedSummary{kDupontJean, 77, "01:02:03", "p0", "F20 - t15", 0}},
        {"LongNameNotCut",
         ResultAnswer(WithFields(fields, {{12, std::string(30, 'D')}})),
         {{100, kAcceptedLog}},
         ExpectedSummary{std::string(30, 'D') + " Jean", 123, "01:02:03", ".",
                         kAcceptedSummary.status, 0}},
        {"OverlongGroupLabelCut",
         ResultAnswer(WithFields(fields, {{13, twentyFiveLetters}})),
         {{100, kAcceptedLog}},
         AcceptedSummaryWith("5ème - 2ème " + std::string(19, 'F') + " - 3ème Elite")},
        {"EmptyFieldsBetweenAdjacentSeparators",
         ResultAnswer(WithFields(fields, {{1, ""}, {5, ""}, {16, ""}})),
         {{100, kAcceptedLog}},
         kAcceptedSummary},
        {"EighteenFieldsRejected", ResultAnswer(eighteen), {{0, DecodingError(18)}}, {}},
        {"TrailingSeparatorMakesNoField",
         ResultAnswer(eighteen) + "\\",
         {{0, DecodingError(18)}},
         {}},
        {"BarePrefix", "RES:1", {{0, DecodingError(0)}}, {}},
    };
}

std::vector<DecoderCase> TaggedRecordCases() {
    const auto fields = AcceptedRunnerFields();
    using test::kHm04Fields;
    using test::kHm05Fields;
    using test::kHm06Fields;
    return {
        {"Hm04Accepted",
         TaggedRecord("hm04", kHm04Fields, fields),
         {{100, kAcceptedLog}},
         kAcceptedSummary},
        {"Hm05Accepted",
         TaggedRecord("hm05", kHm05Fields, fields),
         {{100, kAcceptedLog}},
         kAcceptedSummary},
        {"Hm06Accepted",
         TaggedRecord("hm06", kHm06Fields, fields),
         {{100, kAcceptedLog}},
         kAcceptedSummary},
        {"TextAfterLastFieldIgnored",
         TaggedRecord("hm04", kHm04Fields, fields) + "\\extra",
         {{100, kAcceptedLog}},
         kAcceptedSummary},
        {"BlanksBeforeNumbersSkipped",
         TaggedRecord("hm04", kHm04Fields, WithFields(fields, {{10, "  123"}, {19, " 3"}})),
         {{100, kAcceptedLog}},
         kAcceptedSummary},
        {"FractionWithBareExponentMarker",
         TaggedRecord("hm05", kHm05Fields, WithFields(fields, {{4, "2.5e"}})),
         {{100, kAcceptedLog}},
         kAcceptedSummary},
        // hm06 reads tag, 1, 5.0, "3", "2", 123, then fails on "Jean".
        {"Hm04FieldsUnderHm05Tag",
         TaggedRecord("hm05", kHm04Fields, fields),
         {{0, DecodingError(6)}},
         {}},
        {"UnknownTagAfterFullScan",
         TaggedRecord("hm07", kHm06Fields, fields),
         {{0, DecodingError(18)}},
         {}},
        // hm06 reads tag, 1, 5.0, "3", "2", 123, then needs a number where "" stands.
        {"EmptyTextFieldEndsScan",
         TaggedRecord("hm04", kHm04Fields, WithFields(fields, {{11, ""}})),
         {{0, DecodingError(6)}},
         {}},
        {"TagAlone", "hm04", {{0, DecodingError(1)}}, {}},
    };
}

class HostAnswerDecoderTest : public ::testing::TestWithParam<DecoderCase> {};

TEST_P(HostAnswerDecoderTest, GivesLogLinesAndSummary) {
    const DecoderCase& testCase = GetParam();
    const DecodedHostAnswer answer = DecodeHostAnswer(testCase.line);

    EXPECT_EQ(answer.logLines, testCase.logLines);
    ASSERT_EQ(answer.summary != nullptr, testCase.summary.has_value());
    if (!testCase.summary) return;
    const ExpectedSummary& expected = *testCase.summary;
    EXPECT_EQ(answer.summary->name, expected.name);
    EXPECT_EQ(answer.summary->bib, expected.bib);
    EXPECT_EQ(answer.summary->time, expected.time);
    EXPECT_EQ(answer.summary->passage, expected.passage);
    EXPECT_EQ(answer.summary->status, expected.status);
    EXPECT_EQ(answer.summary->errorFlag, expected.errorFlag);
}

std::string CaseTitle(const ::testing::TestParamInfo<DecoderCase>& info) {
    return info.param.title;
}

INSTANTIATE_TEST_SUITE_P(SimpleAnswers, HostAnswerDecoderTest,
                         ::testing::ValuesIn(SimpleAnswerCases()), CaseTitle);
INSTANTIATE_TEST_SUITE_P(ResultAnswers, HostAnswerDecoderTest,
                         ::testing::ValuesIn(ResultAnswerCases()), CaseTitle);
INSTANTIATE_TEST_SUITE_P(TaggedRecords, HostAnswerDecoderTest,
                         ::testing::ValuesIn(TaggedRecordCases()), CaseTitle);

}  // namespace
}  // namespace torvane
