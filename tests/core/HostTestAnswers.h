#pragma once

#include <map>
#include <string>
#include <vector>

namespace torvane::test {

// Fields 1 to 19 of a runner result whose time was accepted, in the order of the result answer.
inline std::vector<std::string> AcceptedRunnerFields() {
    return {"L1",   "L2",     "1",   "12.5",  "t5",  "t6",  "5",        "3",   "2", "123",
            "Jean", "DUPONT", "F20", "Elite", "t15", "t16", "01:02:03", "t18", "3"};
}

// The same fields with some replaced, by field number.
inline std::vector<std::string> WithFields(std::vector<std::string> fields,
                                           const std::map<int, std::string>& changes) {
    for (const auto& [number, text] : changes) fields.at(static_cast<size_t>(number - 1)) = text;
    return fields;
}

inline std::string JoinFields(const std::vector<std::string>& fields) {
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i) text += (i == 0 ? "" : "\\") + fields[i];
    return text;
}

inline std::string ResultAnswer(const std::vector<std::string>& fields) {
    return "RES:1\\" + JoinFields(fields);
}

// A tagged record carrying the given field numbers of a runner result.
inline std::string TaggedRecord(const std::string& tag, const std::vector<int>& fieldNumbers,
                                const std::vector<std::string>& fields) {
    std::vector<std::string> record{tag};
    for (const int number : fieldNumbers)
        record.push_back(fields.at(static_cast<size_t>(number - 1)));
    return JoinFields(record);
}

inline const std::vector<int> kHm04Fields = {3, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
inline const std::vector<int> kHm05Fields = {3,  4,  5,  7,  8,  9,  10, 11,
                                             12, 13, 14, 15, 16, 17, 18, 19};
inline const std::vector<int> kHm06Fields = {3,  4,  5,  6,  7,  8,  9,  10, 11,
                                             12, 13, 14, 15, 16, 17, 18, 19};

}  // namespace torvane::test
