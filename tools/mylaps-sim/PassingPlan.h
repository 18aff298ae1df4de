#pragma once

#include <string>
#include <vector>

#include "Options.h"

namespace mylapssim {

// The passings of one run, in sending order: the records of a file, or records made at the
// moment they are sent from a list of chip codes (given or generated), with the local time.
class PassingPlan {
public:
    struct Loaded;
    static Loaded Load(const Options& options);

    bool HasMore() const { return endless_ || produced_ < total_; }
    long Total() const { return endless_ ? -1 : total_; }
    std::string Next();

private:
    std::vector<std::string> fileRecords_;
    std::vector<std::string> chips_;
    TimeFamily family_ = TimeFamily::Thousandths;
    std::string fixedDate_;
    long total_ = 0;
    long produced_ = 0;
    bool endless_ = false;
};

struct PassingPlan::Loaded {
    PassingPlan plan;
    std::string error;  // "FILE:LINE: reason" when a file could not be used
};

// One line of a passing file: a raw 39-character record, or "CHIP TIME [DATE]".
// Returns the record, or an error text.
struct FileLine {
    std::string record;
    std::string error;
};
FileLine ReadPassingLine(const std::string& line, TimeFamily family,
                         const std::string& defaultDate);

}  // namespace mylapssim
