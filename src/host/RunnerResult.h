#pragma once

#include <optional>
#include <string>

namespace torvane {

// The runner result that result answers and tagged result records carry, in the field order of
// the result answer. Fields that an answer lacks keep these defaults.
struct RunnerResult {
    std::string leading1;  // the tag of a tagged record
    std::string leading2;
    int passage = 0;
    float value4 = 0.0f;
    std::string text5;
    std::string text6;
    int overallRank = 0;  // 0: the runner has no ranking
    int groupBRank = 0;
    int groupARank = 0;
    int bib = 0;
    std::string nameText1;
    std::string nameText2;
    std::string groupA;  // its first letter gives the gender of a French first rank
    std::string groupB;
    std::string text15;
    std::string text16;
    std::string timeText;
    std::string text18;
    int resultCode = 0;
    std::string text20;
    std::string text21;
};

// Longest texts kept; longer ones are cut.
inline constexpr size_t kWideTextWidth = 255;
inline constexpr size_t kLabelWidth = 19;  // groupA, groupB, text18 and the tag
inline constexpr size_t kText15Width = 49;

struct RunnerResultScan {
    std::optional<RunnerResult> result;  // empty when the answer is rejected
    // Fields found. For a rejected tagged record: the count of its "hm06" attempt, -1 when the
    // line held nothing to scan.
    int fieldCount = 0;
};

inline constexpr int kResultAnswerRequiredFields = 19;

// "RES:1", one separator, then backslash-separated fields; fewer than 19 fields are rejected.
RunnerResultScan ParseResultAnswer(const std::string& line);
// A record tagged "hm04", "hm05" or "hm06", tried in this order.
RunnerResultScan ParseTaggedRecord(const std::string& line);

}  // namespace torvane
