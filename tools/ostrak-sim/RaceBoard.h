#pragma once

#include <map>
#include <string>
#include <utility>

#include "Runners.h"

namespace ostraksim {

// Where a runner stands after a detection: his passage count and, for that passage, the order
// in which runners reached it, overall and within his two groups.
struct Standing {
    int passage = 0;
    int overallRank = 0;
    int groupARank = 0;
    int groupBRank = 0;
};

class RaceBoard {
public:
    Standing RecordPassage(const Runner& runner);

private:
    std::map<int, int> passages_;                          // bib -> passages so far
    std::map<int, int> reached_;                           // passage -> runners there
    std::map<std::pair<std::string, int>, int> reachedA_;  // (group A, passage) -> runners
    std::map<std::pair<std::string, int>, int> reachedB_;  // (group B, passage) -> runners
};

}  // namespace ostraksim
