#include "RaceBoard.h"

namespace ostraksim {

Standing RaceBoard::RecordPassage(const Runner& runner) {
    Standing standing;
    standing.passage = ++passages_[runner.bib];
    standing.overallRank = ++reached_[standing.passage];
    standing.groupARank = ++reachedA_[{runner.groupA, standing.passage}];
    standing.groupBRank = ++reachedB_[{runner.groupB, standing.passage}];
    return standing;
}

}  // namespace ostraksim
