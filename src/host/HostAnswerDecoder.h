#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "state/SummaryItem.h"

namespace torvane {

// What one answer line of the host becomes: log lines (level, text) in order, and at most one
// summary row.
struct DecodedHostAnswer {
    std::vector<std::pair<int, std::string>> logLines;
    std::unique_ptr<CSummaryItem> summary;
};

DecodedHostAnswer DecodeHostAnswer(const std::string& line);

std::string ResultCodeText(int code);
std::string CommandNumberName(int number);
// Ordinal of a rank, its gender taken from the group label ("M..." or "F...").
std::string OrdinalText(int rank, const std::string& groupLabel, bool french);

}  // namespace torvane
