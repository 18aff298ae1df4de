#include "Options.h"

#include <charconv>
#include <cstring>
#include <functional>
#include <vector>

namespace mylapssim {
namespace {

bool ParseWhole(const std::string& text, long low, long high, long& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && !text.empty() && out >= low && out <= high;
}

bool ParseDecimal(const std::string& text, double low, double high, double& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && !text.empty() && out >= low && out <= high;
}

bool IsBoxDate(const std::string& text) {
    if (text.size() != 6) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    const int month = std::stoi(text.substr(2, 2));
    const int day = std::stoi(text.substr(4, 2));
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

using ValueSetter = std::function<std::string(Options&, const std::string&)>;

struct OptionRule {
    const char* name;
    bool takesValue;
    ValueSetter apply;
};

ValueSetter Whole(int Options::*field, long low, long high) {
    return [=](Options& o, const std::string& v) -> std::string {
        long n = 0;
        if (!ParseWhole(v, low, high, n))
            return "expects a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high);
        o.*field = static_cast<int>(n);
        return {};
    };
}

ValueSetter Text(std::string Options::*field) {
    return [=](Options& o, const std::string& v) -> std::string {
        if (v.empty()) return "expects a non-empty value";
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

const std::vector<OptionRule>& Rules() {
    static const std::vector<OptionRule> rules = {
        {"--host", true, Text(&Options::host)},
        {"--port", true, Whole(&Options::port, 1, 65535)},
        {"--source", true,
         [](Options& o, const std::string& v) -> std::string {
             if (v.empty() || !IsFieldSafe(v)) return "expects a name without '@' or '$'";
             o.source = v;
             return {};
         }},
        {"--rate", true,
         [](Options& o, const std::string& v) -> std::string {
             if (!ParseDecimal(v, 0.001, 1e6, o.rate)) return "expects a number from 0.001";
             return {};
         }},
        {"--per-store", true, Whole(&Options::perStore, 1, 100000)},
        {"--count", true,
         [](Options& o, const std::string& v) -> std::string {
             long n = 0;
             if (!ParseWhole(v, 0, 1000000000L, n)) return "expects a whole number, 0 = endless";
             o.count = n;
             return {};
         }},
        {"--backlog", false, Flag(&Options::backlog)},
        {"--window", true, Whole(&Options::window, 0, 1000000)},
        {"--marker-every", true, Whole(&Options::markerEvery, 0, 1000000)},
        {"--from-file", true, Text(&Options::fromFile)},
        {"--chips", true, Text(&Options::chipsFile)},
        {"--riders", true, Whole(&Options::riders, 1, 99999)},
        {"--chip-prefix", true,
         [](Options& o, const std::string& v) -> std::string {
             if (v.size() > 6 || !IsFieldSafe(v) || v.find(' ') != std::string::npos)
                 return "expects at most 6 characters without blanks, '@' or '$'";
             o.chipPrefix = v;
             return {};
         }},
        {"--family", true,
         [](Options& o, const std::string& v) -> std::string {
             if (v == "hundredths")
                 o.family = TimeFamily::Hundredths;
             else if (v == "thousandths")
                 o.family = TimeFamily::Thousandths;
             else
                 return "expects hundredths or thousandths";
             return {};
         }},
        {"--date", true,
         [](Options& o, const std::string& v) -> std::string {
             if (!IsBoxDate(v)) return "expects a date YYMMDD";
             o.date = v;
             return {};
         }},
        {"--ack-timeout", true, Whole(&Options::ackTimeoutMs, 0, 3600000)},
        {"--wait-acks", true, Whole(&Options::waitAcksMs, 0, 3600000)},
        {"--ping-every", true, Whole(&Options::pingEveryMs, 0, 3600000)},
        {"--reconnect", false, Flag(&Options::reconnect)},
        {"--reconnect-delay", true, Whole(&Options::reconnectDelayMs, 0, 3600000)},
        {"--connect-timeout", true, Whole(&Options::connectTimeoutMs, 1, 600000)},
        {"--print-acks", false, Flag(&Options::printAcks)},
        {"--verbose", false, Flag(&Options::verbose)},
        {"--timing-log", true, Text(&Options::timingLog)},
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

bool IsFieldSafe(const std::string& text) {
    return text.find_first_of("@$\r\n") == std::string::npos;
}

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
    if (!parsed.options.fromFile.empty() && !parsed.options.chipsFile.empty())
        parsed.error = "--from-file and --chips cannot be used together";
    return parsed;
}

std::string HelpText() {
    return R"help(mylaps-sim: a MyLaps timing source for rehearsals and tests.

Connects to Torvane's detection listener and speaks the MyLaps ASCII protocol:
every message is "<source>@<command>@<field>@...@$". On each connection it first
sends "<source>@Pong@$", then streams passings in "Store" messages, each carrying
an acknowledgement token (an increasing number) as its last field:
    Loop1@Store@<passing>@<passing>@...@<token>@$
It answers what Torvane sends: "Ping" with "AckPing", "GetInfo" with
"AckGetInfo@<source>@mylaps-sim", "Pong" with "AckPong"; "AckStore" and
"AckMarker" settle the Store or Marker with that token.

Passing record, 39 characters:
    0-6    chip code (7 characters, shorter codes padded with blanks)
    7-18   time: hundredths family " HH:MM:SS.hh" (blank first),
           thousandths family "HH:MM:SS.mmm"
    19-30  two blanks, hit count (3 digits), two blanks, signal (3 digits), two blanks
    31-36  box date YYMMDD
    37-38  checksum: the sum of the bytes at positions 0-36, modulo 256, as two
           upper-case hexadecimal digits

Connection:
  --host ADDR            Torvane's address (default 127.0.0.1)
  --port N               Torvane's MyLaps port (default 3097)
  --source NAME          source name put first in every message (default Loop1)
  --connect-timeout MS   longest wait for one connection attempt (default 3000)
  --reconnect            when the link cannot be opened or drops, try again after
                         --reconnect-delay and resend every unacknowledged message;
                         without it a lost link ends the run
  --reconnect-delay MS   pause between two connection attempts (default 1000)

What is sent:
  --count N              passings in all (default 10; 0 = until interrupted;
                         with --from-file: the whole file, or its first N records)
  --per-store K          passings per Store message (default 1)
  --rate R               passings per second, decimals allowed (default 10)
  --backlog              send every Store at once, as fast as possible
  --window W             at most W unacknowledged Stores at a time (default 0 = no limit)
  --marker-every M       send a "Marker" (field: the local time) after every M Stores;
                         Stores and Markers take their tokens from one count
  --ping-every MS        send "<source>@Ping@$" every MS milliseconds (default 0 = never)
  --from-file FILE       passings from a file, one a line: "CHIP TIME [DATE]"
                         (TIME H:MM:SS or H:MM:SS.f with 1 to 3 fraction digits,
                         DATE YYMMDD) formatted in --family, or a raw 39-character
                         record sent as it stands; blank lines and lines starting
                         with '#' are skipped
  --chips FILE           chip codes to use in turn, one a line (at most 7 characters)
  --riders N             without --chips: generated codes for N riders, used in turn
                         (default 50)
  --chip-prefix P        prefix of generated codes, completed with digits to 7
                         characters (default KV: KV00001, KV00002, ...)
  --family F             hundredths or thousandths (default thousandths)
  --date YYMMDD          box date of generated passings (default: the local date
                         at the moment of each passing); generated times are the
                         local time of day

Acknowledgements:
  --ack-timeout MS       resend a Store or Marker that has no acknowledgement
                         after MS milliseconds, again after each further MS
                         (default 2000; 0 = never resend)
  --wait-acks MS         after the last Store, wait at most MS milliseconds for
                         the outstanding acknowledgements (default 10000)

Output:
  --print-acks           print each acknowledgement received
  --verbose              print every message sent and received
  --timing-log FILE      one line per Store: "<token> <send-ns> <ack-ns>", times in
                         nanoseconds since the Unix epoch (system clock); send-ns is
                         the first sending; a Store never acknowledged gets -1
  --help                 this text

The run ends with a summary line on standard output. Ctrl-C stops sending and waits
for the outstanding acknowledgements (a second Ctrl-C quits at once).

Exit status: 0 when every Store and Marker was acknowledged, 1 when some were not
(or the link was lost, or could not be opened), 2 for a bad command line or file.
)help";
}

}  // namespace mylapssim
