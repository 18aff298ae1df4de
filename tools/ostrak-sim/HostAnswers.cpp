#include "HostAnswers.h"

#include <charconv>
#include <cstdio>
#include <vector>

namespace ostraksim {
namespace {

constexpr std::size_t kLongText = 255;
constexpr std::size_t kGroupText = 19;
constexpr std::size_t kText15 = 49;

std::string Cut(const std::string& text, std::size_t width) {
    return text.substr(0, width);
}

std::string Fraction(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// A tagged record is read with "%[^\]", which needs at least one character per text.
std::string NonEmpty(const std::string& text) {
    return text.empty() ? " " : text;
}

std::string Joined(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += '\\';
        line += fields[i];
    }
    return line;
}

int BibNumber(const std::string& text) {
    int bib = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, bib);
    return ec == std::errc() && ptr == end ? bib : 0;
}

}  // namespace

RunnerResult MakeResult(const Detection& detection, const Runner* runner, const Standing& standing,
                        const std::string& competition) {
    RunnerResult r;
    r.lead1 = detection.first;
    r.lead2 = Cut(detection.box, kLongText);
    r.text5 = Cut(competition, kLongText);
    r.text6 = Cut(detection.box, kLongText);
    r.text18 = Cut(detection.box, kGroupText);
    if (!runner) {
        r.bib = BibNumber(detection.bibText);
        r.timeText = "00:00:00";
        r.resultCode = kUnknownRunner;
        return r;
    }
    r.passage = standing.passage;
    r.value4 = detection.hundredths / 100.0;
    r.overallRank = standing.overallRank;
    r.groupBRank = standing.groupBRank;
    r.groupARank = standing.groupARank;
    r.bib = runner->bib;
    r.nameText1 = Cut(runner->firstName, kLongText);
    r.nameText2 = Cut(runner->lastName, kLongText);
    r.groupA = Cut(runner->groupA, kGroupText);
    r.groupB = Cut(runner->groupB, kGroupText);
    r.text16 = Cut(runner->club, kLongText);
    r.timeText = detection.time;
    r.resultCode = kTimeTaken;
    return r;
}

std::string InfoAnswer(int number, const std::string& text) {
    std::string line = "NFO:" + std::to_string(number);
    if (!text.empty()) line += " " + text;
    return line;
}

std::string ErrorAnswer(int code) {
    return "ERR:" + std::to_string(code);
}

std::string ResultAnswer(const RunnerResult& r) {
    using std::to_string;
    return "RES:1\\" +
           Joined({r.lead1, r.lead2, to_string(r.passage), Fraction(r.value4), r.text5, r.text6,
                   to_string(r.overallRank), to_string(r.groupBRank), to_string(r.groupARank),
                   to_string(r.bib), r.nameText1, r.nameText2, r.groupA, r.groupB, r.text15,
                   r.text16, r.timeText, r.text18, to_string(r.resultCode)});
}

std::string TaggedAnswer(const RunnerResult& r, const std::string& tag) {
    using std::to_string;
    std::vector<std::string> fields = {tag, to_string(r.passage)};
    if (tag != "hm04") {
        fields.push_back(Fraction(r.value4));
        fields.push_back(NonEmpty(r.text5));
    }
    if (tag == "hm06") fields.push_back(NonEmpty(r.text6));
    for (int number : {r.overallRank, r.groupBRank, r.groupARank, r.bib})
        fields.push_back(to_string(number));
    for (const std::string* text : {&r.nameText1, &r.nameText2, &r.groupA, &r.groupB, &r.text15,
                                    &r.text16, &r.timeText, &r.text18})
        fields.push_back(NonEmpty(*text));
    fields.push_back(to_string(r.resultCode));
    return Joined(fields);
}

}  // namespace ostraksim
