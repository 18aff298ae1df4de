#include "host/HostRequests.h"

#include "app/Texts.h"

namespace torvane {

namespace {
// The first and fourth arguments of AddDagClock are always 1.
constexpr int kDetectionKind = 1;
constexpr int kDetectionCount = 1;
}  // namespace

std::string BuildNumberedDetectionCommand(const std::string& box, int bib,
                                          const std::string& raceTime) {
    return Format("AddDagClock(%d\t%s\t%d\t%d\t%s)", kDetectionKind, box.c_str(), bib,
                  kDetectionCount, raceTime.c_str());
}

std::string BuildTextualDetectionCommand(const std::string& box, const std::string& bibText,
                                         const std::string& raceTime) {
    return Format("AddDagClock(%d\t%s\t%s\t%d\t%s)", kDetectionKind, box.c_str(), bibText.c_str(),
                  kDetectionCount, raceTime.c_str());
}

}  // namespace torvane
