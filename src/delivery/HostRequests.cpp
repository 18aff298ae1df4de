#include "delivery/HostRequests.h"

#include "base/Texts.h"

namespace torvane {

namespace {
// The first and fourth arguments of AddDagClock are always 1.
constexpr int kDetectionKind = 1;
constexpr int kDetectionCount = 1;
}  // namespace

std::string BuildNumberedDetectionCommand(const std::string& box, int bib,
                                          const std::string& raceTime) {
    // "AddDagClock(%d\t%s\t%d\t%d\t%s)", written directly: this runs for every passing.
    std::string command = "AddDagClock(";
    AppendNumber(command, kDetectionKind);
    command.append("\t").append(UpToNul(box)).append("\t");
    AppendNumber(command, bib);
    command += '\t';
    AppendNumber(command, kDetectionCount);
    command.append("\t").append(UpToNul(raceTime)).append(")");
    return command;
}

std::string BuildTextualDetectionCommand(const std::string& box, const std::string& bibText,
                                         const std::string& raceTime) {
    return Format("AddDagClock(%d\t%s\t%s\t%d\t%s)", kDetectionKind, box.c_str(), bibText.c_str(),
                  kDetectionCount, raceTime.c_str());
}

}  // namespace torvane
