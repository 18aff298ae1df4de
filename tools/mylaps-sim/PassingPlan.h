#pragma once

#include <string>
#include <vector>

#include "Options.h"

namespace mylapssim {

// The passings of one run, in sending order and in the records of the run's dialect: the
// records of a file, or records made at the moment they are sent from a list of chip codes
// (given or generated), with the local time.
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
    Dialect dialect_ = Dialect::Store;
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

// One line of a passing file: a raw record of the dialect (39 characters for Store, any line
// with a "=" for Passing), or "CHIP TIME [DATE]". Returns the record, or an error text.
struct FileLine {
    std::string record;
    std::string error;
};
FileLine ReadPassingLine(const std::string& line, Dialect dialect, TimeFamily family,
                         const std::string& defaultDate);

}  // namespace mylapssim
