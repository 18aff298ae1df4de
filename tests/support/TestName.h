#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>

namespace torvane::test {

// A readable name for a parameterised case made of a text: its letters and digits, every other run
// of characters turned into one "_" (test names take nothing else).
inline std::string TestNameOf(const std::string& text) {
    std::string name;
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name.empty() ? "Empty" : name;
}

// The name of a case that prints itself with its PrintTo, for INSTANTIATE_TEST_SUITE_P.
struct PrintedName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        std::ostringstream text;
        PrintTo(info.param, &text);
        return TestNameOf(text.str());
    }
};

}  // namespace torvane::test
