#pragma once

#include <string>

namespace torvane {

inline constexpr const char* kChipTableSecondName = "MyLapsTable.dtb";

// Searches "ChipTable.dtb" then `secondFileName` in the data folder, then in the program folder,
// and loads the first that exists. `message` always receives the text to log or show.
bool LoadChipTable(const std::string& secondFileName, std::string& message);

}  // namespace torvane
