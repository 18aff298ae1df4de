#include "Options.h"

#include <charconv>
#include <functional>
#include <vector>

namespace ostraksim {
namespace {

bool ParseWhole(const std::string& text, long low, long high, long& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && !text.empty() && out >= low && out <= high;
}

using ValueSetter = std::function<std::string(Options&, const std::string&)>;

struct OptionRule {
    const char* name;
    bool takesValue;
    ValueSetter apply;
};

// Texts go into answer lines: no line ends.
ValueSetter Text(std::string Options::*field) {
    return [=](Options& o, const std::string& v) -> std::string {
        if (v.find_first_of("\r\n") != std::string::npos) return "cannot hold a line end";
        o.*field = v;
        return {};
    };
}

ValueSetter Flag(bool Options::*field) {
    return [=](Options& o, const std::string&) -> std::string {
        o.*field = true;
        return {};
    };
}

std::string SetAnswer(Options& o, const std::string& v) {
    if (v == "result")
        o.answer = AnswerMode::Result;
    else if (v == "tagged")
        o.answer = AnswerMode::Tagged;
    else if (v == "error")
        o.answer = AnswerMode::Error;
    else if (v == "none")
        o.answer = AnswerMode::None;
    else
        return "expects result, tagged, error or none";
    return {};
}

const std::vector<OptionRule>& Rules() {
    static const std::vector<OptionRule> rules = {
        {"--port", true,
         [](Options& o, const std::string& v) -> std::string {
             long n = 0;
             if (!ParseWhole(v, 0, 65535, n)) return "expects a port from 0 to 65535";
             o.port = static_cast<int>(n);
             return {};
         }},
        {"--bind", true, Text(&Options::bind)},
        {"--answer", true, SetAnswer},
        {"--tag", true,
         [](Options& o, const std::string& v) -> std::string {
             if (v != "hm04" && v != "hm05" && v != "hm06") return "expects hm04, hm05 or hm06";
             o.tag = v;
             return {};
         }},
        {"--error-code", true,
         [](Options& o, const std::string& v) -> std::string {
             long n = 0;
             if (!ParseWhole(v, -99999, 99999, n)) return "expects a whole number";
             o.errorCode = static_cast<int>(n);
             return {};
         }},
        {"--runners", true, Text(&Options::runnersFile)},
        {"--any-bib", false, Flag(&Options::anyBib)},
        {"--mode", true, Text(&Options::mode)},
        {"--user", true, Text(&Options::user)},
        {"--competition", true, Text(&Options::competition)},
        {"--file-name", true, Text(&Options::fileName)},
        {"--version", true, Text(&Options::version)},
        {"--detectors", true, Text(&Options::detectors)},
        {"--drop-after", true,
         [](Options& o, const std::string& v) -> std::string {
             if (!ParseWhole(v, 0, 1000000000L, o.dropAfter)) return "expects a whole number";
             return {};
         }},
        {"--refuse", false, Flag(&Options::refuse)},
        {"--refuse-how", true,
         [](Options& o, const std::string& v) -> std::string {
             if (v == "accept-close")
                 o.refusal = RefusalKind::AcceptClose;
             else if (v == "no-listen")
                 o.refusal = RefusalKind::NoListen;
             else
                 return "expects accept-close or no-listen";
             return {};
         }},
        {"--log", true, Text(&Options::logFile)},
        {"--verbose", false, Flag(&Options::verbose)},
        {"--quiet", false, Flag(&Options::quiet)},
        {"--help", false, Flag(&Options::help)},
    };
    return rules;
}

const OptionRule* FindRule(const std::string& name) {
    for (const OptionRule& rule : Rules())
        if (name == rule.name) return &rule;
    return nullptr;
}

}  // namespace

ParsedOptions ParseOptions(int argc, const char* const* argv) {
    ParsedOptions parsed;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        if (arg == "-h") arg = "--help";
        const OptionRule* rule = FindRule(arg);
        if (!rule) {
            parsed.error = "unknown option " + arg + " (see --help)";
            return parsed;
        }
        if (rule->takesValue && !inlineValue) {
            if (i + 1 >= argc) {
                parsed.error = arg + " needs a value";
                return parsed;
            }
            value = argv[++i];
        } else if (!rule->takesValue && inlineValue) {
            parsed.error = arg + " takes no value";
            return parsed;
        }
        if (std::string problem = rule->apply(parsed.options, value); !problem.empty()) {
            parsed.error = arg + " " + problem;
            return parsed;
        }
    }
    if (parsed.options.quiet && parsed.options.verbose)
        parsed.error = "--quiet cannot be used with --verbose";
    return parsed;
}

std::string HelpText() {
    return R"help(ostrak-sim: a race-management host like Ostrak Pro, for rehearsals and tests.

Listens for Torvane's host link and reads request lines ended by CR LF (a bare LF
is accepted too). Every answer is one line ended by LF. Its first line on standard
output is "listening on port N".

Requests and answers:
  GetMode()                 NFO:24 <--mode>
  GetUserName()             NFO:25 <--user>
  GetCompetitionName()      NFO:5 <--competition>
  GetFilename()             NFO:6 <--file-name>
  GetVersion()              NFO:27 <--version>
  GetPrintableVersion()     NFO:28 Ostrak Pro <--version> (simulator)
  GetDetectorList()         NFO:7 <--detectors>
  Ping()                    NFO:20
  AddDagClock(1<TAB>BOX<TAB>BIB-OR-CHIP<TAB>1<TAB>H:MM:SS.hh)
                            depends on --answer (below)
  an unknown command        ERR:103
  a malformed request       ERR:104 (no "NAME(...)" form, arguments where none are
                            expected, not five AddDagClock arguments, a first or
                            fourth argument that is not a number, a bad time, or a
                            line longer than 4096 bytes)
Empty lines are logged but not answered.

Answers to AddDagClock, --answer MODE:
  result   "RES:1\" then 19 backslash-separated fields:
           1 first argument, 2 box, 3 passage, 4 race time in seconds,
           5 competition, 6 box, 7 overall rank, 8 rank in group B,
           9 rank in group A, 10 bib, 11 first name, 12 last name, 13 group A,
           14 group B, 15 (empty), 16 club, 17 race time, 18 box, 19 result code
           (default)
  tagged   the same record as a tagged line "hm04", "hm05" or "hm06" (--tag,
           default hm06), empty texts sent as one blank
  error    "ERR:<--error-code>" (default 301)
  none     no answer
The result code is 3 for a bib of the runners file, else -5 ("Coureur inconnu",
with passage, ranks and bib 0 when a chip code stands in place of the bib, and
the time 00:00:00). A runner's passage counts his accepted detections; a rank is
the order in which runners reached that passage, overall and within each group.
In error mode nothing is counted.

Options:
  --port N               port to listen on (default 8283; 0 = a free port)
  --bind ADDR            address to listen on (default 127.0.0.1)
  --answer MODE          result, tagged, error or none (default result)
  --tag T                hm04, hm05 or hm06 for --answer tagged (default hm06)
  --error-code N         code of --answer error (default 301)
  --runners FILE         runners, one a line: BIB;LASTNAME;FIRSTNAME;GROUPA;GROUPB;CLUB
                         (the last three may be left out; GROUPA is the sex group,
                         "M..." or "F...", GROUPB the category). Blank lines and
                         lines starting with '#' are skipped; backslashes in texts
                         become '/'. A bad or repeated bib stops the program.
  --any-bib              every numeric bib counts as a runner: a bib missing from
                         the runners file is named "RUNNER <bib>", groups "M" and "SE"
  --mode, --user, --competition, --file-name, --version, --detectors TEXT
                         texts of the information answers (defaults: "Ostrak Pro
                         (simulator)", "Chrono", "Rehearsal", "rehearsal.ost",
                         "6.2", "Loop1")
  --drop-after N         close the link once, after answering the N-th request
                         received since the start (empty lines not counted)
  --refuse               refuse connections from the start
  --refuse-how HOW       accept-close: accept each connection and close it at once
                         (default); no-listen: stop listening, so connecting fails
  --log FILE             write every received line as "<ns> <line>": receive time in
                         nanoseconds since the Unix epoch (system clock), the line
                         without its CR LF
  --quiet                print nothing while running but the port line and errors
                         (the default unless --verbose); the summary line comes at
                         the end all the same
  --verbose              also print received lines as in --log, answers as
                         "> <answer>" and connection events as "+ <event>"
  --help                 this text

Commands on standard input while running:
  drop                   close the current links
  refuse on | refuse off start or stop refusing connections
  quit                   stop (as do Ctrl-C and SIGTERM)

When it stops it prints one summary line on standard output:
    summary: received R requests (D detections) on L links

Exit status: 0 after quit, 1 when the port cannot be opened, 2 for a bad command
line or runners file.
)help";
}

}  // namespace ostraksim
