#pragma once

#include <string>

namespace ostraksim {

enum class AnswerMode { Result, Tagged, Error, None };
enum class RefusalKind { AcceptClose, NoListen };

// Everything the command line can set.
struct Options {
    int port = 8283;  // 0: the system picks a free port
    std::string bind = "127.0.0.1";

    AnswerMode answer = AnswerMode::Result;
    std::string tag = "hm06";
    int errorCode = 301;
    std::string runnersFile;
    bool anyBib = false;

    std::string mode = "Ostrak Pro (simulator)";
    std::string user = "Chrono";
    std::string competition = "Rehearsal";
    std::string fileName = "rehearsal.ost";
    std::string version = "6.2";
    std::string detectors = "Loop1";

    long dropAfter = 0;
    bool refuse = false;
    RefusalKind refusal = RefusalKind::AcceptClose;

    std::string logFile;
    bool verbose = false;
    bool quiet = false;
    bool help = false;
};

struct ParsedOptions {
    Options options;
    std::string error;  // empty when the command line is sound
};

ParsedOptions ParseOptions(int argc, const char* const* argv);
std::string HelpText();

}  // namespace ostraksim
