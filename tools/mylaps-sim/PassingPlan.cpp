#include "PassingPlan.h"

#include <fstream>
#include <sstream>

#include "PassingRecord.h"

namespace mylapssim {
namespace {

constexpr long kDefaultCount = 10;

bool IsDate(const std::string& text) {
    if (text.size() != 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const int month = std::stoi(text.substr(2, 2));
    const int day = std::stoi(text.substr(4, 2));
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

bool IsSkipped(const std::string& line) {
    const auto first = line.find_first_not_of(" \t");
    return first == std::string::npos || line[first] == '#';
}

// Reads the usable lines of a file; calls take(line) for each and stops at its first error.
template <typename Take>
std::string ReadLines(const std::string& path, Take take) {
    std::ifstream in(path);
    if (!in) return path + ": cannot be opened";
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = WithoutLineEnd(line);
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        if (IsSkipped(line)) continue;
        if (std::string problem = take(line); !problem.empty())
            return path + ":" + std::to_string(number) + ": " + problem;
    }
    return {};
}

// Why a chip code cannot be sent in the dialect; empty when it can.
std::string ChipProblem(const std::string& chip, Dialect dialect) {
    if (dialect == Dialect::Store) {
        if (chip.size() > kChipLength) return "chip code longer than 7 characters: " + chip;
        if (!IsFieldSafe(chip)) return "'@' and '$' cannot appear in a chip code";
    } else if (!IsValueSafe(chip)) {
        return "'@', '$' and '|' cannot appear in a chip code";
    }
    return {};
}

std::vector<std::string> GeneratedChips(const std::string& prefix, int riders) {
    std::vector<std::string> chips;
    const std::size_t digits = kChipLength - prefix.size();
    for (int rider = 1; rider <= riders; ++rider) {
        std::string number = std::to_string(rider);
        if (number.size() < digits) number.insert(0, digits - number.size(), '0');
        chips.push_back(prefix + number);
    }
    return chips;
}

}  // namespace

FileLine ReadPassingLine(const std::string& line, Dialect dialect, TimeFamily family,
                         const std::string& defaultDate) {
    if (!IsFieldSafe(line)) return {{}, "'@' and '$' cannot appear in a passing"};
    const bool isStore = dialect == Dialect::Store;
    if (isStore ? line.size() == kRecordLength : line.find('=') != std::string::npos)
        return {line, {}};

    std::istringstream words(line);
    std::string chip, timeText, date, extra;
    words >> chip >> timeText >> date >> extra;
    if (timeText.empty() || !extra.empty())
        return {{},
                isStore ? "expected \"CHIP TIME [DATE]\" or a 39-character record"
                        : "expected \"CHIP TIME [DATE]\" or a record with \"=\""};
    if (std::string problem = ChipProblem(chip, dialect); !problem.empty()) return {{}, problem};
    TimeOfDay time;
    if (!ParseTimeText(timeText, time)) return {{}, "time is not H:MM:SS[.fff]: " + timeText};
    if (date.empty()) date = defaultDate;
    if (!IsDate(date)) return {{}, "date is not YYMMDD: " + date};
    if (!isStore) return {ComposeKeyedRecord(chip, time, 1, date), {}};
    return {ComposeRecord(chip, FormatTimeField(family, time), 1, 100, date), {}};
}

PassingPlan::Loaded PassingPlan::Load(const Options& options) {
    Loaded loaded;
    PassingPlan& plan = loaded.plan;
    plan.dialect_ = options.dialect;
    plan.family_ = options.family;
    plan.fixedDate_ = options.date;

    if (!options.fromFile.empty()) {
        const std::string date = options.date.empty() ? LocalNow().boxDate : options.date;
        loaded.error = ReadLines(options.fromFile, [&](const std::string& line) {
            FileLine read = ReadPassingLine(line, options.dialect, options.family, date);
            if (read.error.empty()) plan.fileRecords_.push_back(read.record);
            return read.error;
        });
        if (loaded.error.empty() && plan.fileRecords_.empty())
            loaded.error = options.fromFile + ": holds no passing";
        const long available = static_cast<long>(plan.fileRecords_.size());
        plan.total_ = options.count && *options.count > 0 && *options.count < available
                          ? *options.count
                          : available;
        return loaded;
    }

    if (!options.chipsFile.empty()) {
        loaded.error = ReadLines(options.chipsFile, [&](const std::string& line) -> std::string {
            std::string problem = ChipProblem(line, options.dialect);
            if (problem.empty()) plan.chips_.push_back(line);
            return problem;
        });
        if (loaded.error.empty() && plan.chips_.empty())
            loaded.error = options.chipsFile + ": holds no chip code";
    } else if (std::to_string(options.riders).size() + options.chipPrefix.size() > kChipLength) {
        loaded.error = "--chip-prefix " + options.chipPrefix + " leaves too few digits for " +
                       std::to_string(options.riders) + " riders";
    } else {
        plan.chips_ = GeneratedChips(options.chipPrefix, options.riders);
    }
    const long count = options.count.value_or(kDefaultCount);
    plan.endless_ = count == 0;
    plan.total_ = count;
    return loaded;
}

std::string PassingPlan::Next() {
    const long index = produced_++;
    if (!fileRecords_.empty()) return fileRecords_[static_cast<std::size_t>(index)];

    const LocalInstant now = LocalNow();
    const std::string& chip = chips_[static_cast<std::size_t>(index) % chips_.size()];
    const int hits = 1 + static_cast<int>(index % 20);
    const int signal = 80 + static_cast<int>(index % 40);
    const std::string& date = fixedDate_.empty() ? now.boxDate : fixedDate_;
    if (dialect_ == Dialect::Passing) return ComposeKeyedRecord(chip, now.time, hits, date);
    return ComposeRecord(chip, FormatTimeField(family_, now.time), hits, signal, date);
}

}  // namespace mylapssim
