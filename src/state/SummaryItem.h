#pragma once

#include <string>

namespace torvane {

// One row of the summary list: a runner result decoded from a host answer.
struct CSummaryItem {
    virtual ~CSummaryItem() = default;

    std::string name;  // padded with blanks to at least 30 characters
    int bib = 0;
    std::string time;
    std::string passage;
    std::string status;  // ranking text, or the result code's text
    int errorFlag = 0;   // 0 when the time was accepted
};

}  // namespace torvane
