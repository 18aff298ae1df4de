#pragma once

#include <string>
#include <string_view>

namespace ostraksim {

// The five arguments of AddDagClock(first<TAB>box<TAB>bib<TAB>fourth<TAB>time).
struct Detection {
    std::string first;
    std::string box;
    std::string bibText;  // a bib in decimal, or a chip code
    std::string fourth;
    std::string time;     // H:MM:SS.hh, hours may pass 23
    long hundredths = 0;  // the time as a count of hundredths
};

enum class RequestKind { Query, Ping, AddDagClock, Unknown, Malformed };

struct HostRequest {
    RequestKind kind = RequestKind::Malformed;
    std::string name;     // the command name
    int infoNumber = 0;   // for a query: the command number of its information answer
    Detection detection;  // for AddDagClock
};

// Reads one request line, without its line end.
HostRequest ParseRequest(std::string_view line);

// "H:MM:SS.hh" with one or more hour digits, two-digit minutes and seconds below 60 and
// exactly two fraction digits.
bool ParseRaceTime(std::string_view text, long& hundredths);

}  // namespace ostraksim
