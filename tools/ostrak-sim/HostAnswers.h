#pragma once

#include <string>

#include "HostRequest.h"
#include "RaceBoard.h"
#include "Runners.h"

namespace ostraksim {

constexpr int kTimeTaken = 3;
constexpr int kUnknownRunner = -5;
constexpr int kUnknownCommand = 103;
constexpr int kInvalidCommand = 104;
constexpr int kPingNumber = 20;

// The runner result, fields in the order of a result answer.
struct RunnerResult {
    std::string lead1;
    std::string lead2;
    int passage = 0;
    double value4 = 0.0;
    std::string text5;
    std::string text6;
    int overallRank = 0;
    int groupBRank = 0;
    int groupARank = 0;
    int bib = 0;
    std::string nameText1;
    std::string nameText2;
    std::string groupA;
    std::string groupB;
    std::string text15;
    std::string text16;
    std::string timeText;
    std::string text18;
    int resultCode = 0;
};

// `runner` is null for a bib or chip the host does not know; `standing` then goes unused.
RunnerResult MakeResult(const Detection& detection, const Runner* runner, const Standing& standing,
                        const std::string& competition);

// Answers without their line end.
std::string InfoAnswer(int number, const std::string& text);
std::string ErrorAnswer(int code);
std::string ResultAnswer(const RunnerResult& result);
// tag is "hm04", "hm05" or "hm06".
std::string TaggedAnswer(const RunnerResult& result, const std::string& tag);

}  // namespace ostraksim
