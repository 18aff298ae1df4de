#pragma once

#include <array>
#include <string>

namespace torvane {

// Queries sent to the host, in this order, shortly after each connection.
inline constexpr std::array<const char*, 7> kHostQueryBurst = {
    "GetMode()",    "GetUserName()",         "GetCompetitionName()", "GetFilename()",
    "GetVersion()", "GetPrintableVersion()", "GetDetectorList()",
};

// Sent each time the timing source pings us.
inline constexpr const char* kHostPing = "Ping()";

// A detection whose bib comes from the chip table.
std::string BuildNumberedDetectionCommand(const std::string& box, int bib,
                                          const std::string& raceTime);
// A detection carrying a text in place of the bib (an unknown chip code, or a typed-in bib).
std::string BuildTextualDetectionCommand(const std::string& box, const std::string& bibText,
                                         const std::string& raceTime);

}  // namespace torvane
