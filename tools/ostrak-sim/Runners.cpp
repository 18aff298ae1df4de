#include "Runners.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <vector>

namespace ostraksim {
namespace {

constexpr int kLargestBib = 999999;

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Backslashes separate the fields of a result answer, so none may stand inside a text.
std::string AnswerSafe(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t at; (at = line.find(';', start)) != std::string::npos; start = at + 1)
        fields.push_back(AnswerSafe(Trimmed(line.substr(start, at - start))));
    fields.push_back(AnswerSafe(Trimmed(line.substr(start))));
    return fields;
}

bool ParseBib(const std::string& text, int& bib) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, bib);
    return ec == std::errc() && ptr == end && !text.empty() && bib >= 1 && bib <= kLargestBib;
}

std::string ReadRunnerLine(const std::string& line, RunnerList& list) {
    const std::vector<std::string> fields = SplitFields(line);
    if (fields.size() < 3) return "expected BIB;LASTNAME;FIRSTNAME[;GROUPA;GROUPB;CLUB]";
    Runner runner;
    if (!ParseBib(fields[0], runner.bib))
        return "bib is not a number from 1 to 999999: " + fields[0];
    if (list.byBib.count(runner.bib)) return "bib " + fields[0] + " appears twice";
    runner.lastName = fields[1];
    runner.firstName = fields[2];
    if (fields.size() > 3) runner.groupA = fields[3];
    if (fields.size() > 4) runner.groupB = fields[4];
    if (fields.size() > 5) runner.club = fields[5];
    list.byBib.emplace(runner.bib, runner);
    return {};
}

}  // namespace

RunnerList ReadRunners(std::istream& in, const std::string& name) {
    RunnerList list;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        const std::string content = Trimmed(line);
        if (content.empty() || content[0] == '#') continue;
        if (std::string problem = ReadRunnerLine(content, list); !problem.empty()) {
            list.error = name + ":" + std::to_string(number) + ": " + problem;
            list.byBib.clear();
            return list;
        }
    }
    return list;
}

RunnerList LoadRunners(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        RunnerList list;
        list.error = path + ": cannot be opened";
        return list;
    }
    return ReadRunners(in, path);
}

Runner NamedAfterBib(int bib) {
    return {bib, "RUNNER", std::to_string(bib), "M", "SE", ""};
}

}  // namespace ostraksim
