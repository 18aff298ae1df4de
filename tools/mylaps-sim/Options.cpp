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

// "all", or message numbers separated by commas.
std::string SetIgnoredFirstAcks(Options& o, const std::string& v) {
    if (v == "all") {
        o.ignoreEveryFirstAck = true;
        return {};
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = v.find(',', start);
        long number = 0;
        if (!ParseWhole(v.substr(start, comma - start), 1, 1000000000L, number))
            return "expects all, or message numbers separated by commas";
        o.ignoreFirstAckOf.insert(number);
        if (comma == std::string::npos) return {};
        start = comma + 1;
    }
}

// Combinations that a single option cannot check.
std::string CheckTogether(const Options& o) {
    if (!o.fromFile.empty() && !o.chipsFile.empty())
        return "--from-file and --chips cannot be used together";
    if (o.quiet && (o.verbose || o.printAcks))
        return "--quiet cannot be used with --verbose or --print-acks";
    const bool ignoresAcks = o.ignoreEveryFirstAck || !o.ignoreFirstAckOf.empty();
    if (ignoresAcks && o.ackTimeoutMs == 0)
        return "--ignore-first-ack needs --ack-timeout above 0, or nothing is sent again";
    return {};
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
        {"--dialect", true,
         [](Options& o, const std::string& v) -> std::string {
             if (v == "store")
                 o.dialect = Dialect::Store;
             else if (v == "passing")
                 o.dialect = Dialect::Passing;
             else
                 return "expects store or passing";
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
        {"--ignore-first-ack", true, SetIgnoredFirstAcks},
        {"--print-acks", false, Flag(&Options::printAcks)},
        {"--verbose", false, Flag(&Options::verbose)},
        {"--quiet", false, Flag(&Options::quiet)},
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

bool IsValueSafe(const std::string& text) {
    return IsFieldSafe(text) && text.find('|') == std::string::npos;
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
    parsed.error = CheckTogether(parsed.options);
    return parsed;
}

std::string HelpText() {
    return R"help(mylaps-sim: a MyLaps timing source for rehearsals and tests.

Connects to Torvane's detection listener and speaks the MyLaps ASCII protocol:
every message is "<source>@<command>@<field>@...@$". On each connection it first
sends "<source>@Pong@$", then streams passings in messages of its dialect, each
carrying a message number (an increasing number) as its last field:
    store dialect:    Loop1@Store@<record>@<record>@...@<number>@$
    passing dialect:  Loop1@Passing@<record>@<record>@...@<number>@$
It answers what Torvane sends: "Ping" with "AckPing", "GetInfo" with
"AckGetInfo@<source>@mylaps-sim", "Pong" with "AckPong"; "AckStore" (store
dialect), "AckPassing" (passing dialect) and "AckMarker" settle the message with
that number.

Store record, 39 characters:
    0-6    chip code (7 characters, shorter codes padded with blanks)
    7-18   time: hundredths family " HH:MM:SS.hh" (blank first),
           thousandths family "HH:MM:SS.mmm"
    19-30  two blanks, hit count (3 digits), two blanks, signal (3 digits), two blanks
    31-36  box date YYMMDD
    37-38  checksum: the sum of the bytes at positions 0-36, modulo 256, as two
           upper-case hexadecimal digits

Passing record, "key=value" pairs joined by "|":
    t=HH:MM:SS.mmm|c=<chip>|ct=UH|d=<YYMMDD>|l=<hit count>|dv=4|re=0|an=00001111|g=0
    (the chip code as it is, of any length)

Connection:
  --host ADDR            Torvane's address (default 127.0.0.1)
  --port N               Torvane's MyLaps port (default 3097)
  --source NAME          source name put first in every message (default Loop1)
  --dialect D            store or passing (default store)
  --connect-timeout MS   longest wait for one connection attempt (default 3000)
  --reconnect            when the link cannot be opened or drops, try again after
                         --reconnect-delay and resend every unacknowledged message;
                         without it a lost link ends the run
  --reconnect-delay MS   pause between two connection attempts (default 1000)

What is sent:
  --count N              passings in all (default 10; 0 = until interrupted;
                         with --from-file: the whole file, or its first N records)
  --per-store K          passings per message, Store or Passing (default 1; a
                         source of the passing dialect sends at most 100)
  --rate R               passings per second, decimals allowed (default 10)
  --backlog              send every message at once, as fast as possible
  --window W             at most W unacknowledged messages of passings at a time
                         (default 0 = no limit; a source of the passing dialect
                         keeps at most 10)
  --marker-every M       send a "Marker" after every M messages of passings; its
                         field is the local time (store dialect) or the record
                         "t=HH:MM:SS.mmm|mt=Gunshot|n=Gunshot <number>" (passing
                         dialect); all messages take their numbers from one count
  --ping-every MS        send "<source>@Ping@$" every MS milliseconds (default 0 = never)
  --from-file FILE       passings from a file, one a line: "CHIP TIME [DATE]"
                         (TIME H:MM:SS or H:MM:SS.f with 1 to 3 fraction digits,
                         DATE YYMMDD) formatted for the dialect (and --family), or a
                         raw record sent as it stands: 39 characters in the store
                         dialect, any line with a "=" in the passing dialect; blank
                         lines and lines starting with '#' are skipped
  --chips FILE           chip codes to use in turn, one a line (at most 7 characters
                         in the store dialect)
  --riders N             without --chips: generated codes for N riders, used in turn
                         (default 50)
  --chip-prefix P        prefix of generated codes, completed with digits to 7
                         characters (default KV: KV00001, KV00002, ...)
  --family F             hundredths or thousandths, for Store records (default
                         thousandths)
  --date YYMMDD          box date of generated passings (default: the local date
                         at the moment of each passing); generated times are the
                         local time of day

Acknowledgements:
  --ack-timeout MS       resend a message that has no acknowledgement after MS
                         milliseconds, again after each further MS (default 2000;
                         0 = never resend; a source of the passing dialect waits
                         20000)
  --wait-acks MS         after the last message, wait at most MS milliseconds for
                         the outstanding acknowledgements (default 10000)
  --ignore-first-ack L   treat the first acknowledgement of the messages numbered in
                         L (numbers separated by commas, or "all") as lost: each of
                         them is sent again after --ack-timeout, and its second
                         acknowledgement settles it. Torvane then receives every
                         passing of those messages twice

Output:
  --print-acks           print each acknowledgement received
  --verbose              print every message sent and received
  --quiet                print nothing while running: only errors, and the summary
                         line at the end
  --timing-log FILE      one line per message of passings: "<number> <send-ns>
                         <ack-ns>", times in nanoseconds since the Unix epoch
                         (system clock); send-ns is the first sending; a message
                         never acknowledged gets -1
  --help                 this text

The run ends with one summary line on standard output:
    summary: sent S <Store|Passing> messages (P passings), acknowledged A, resent R,
    unacknowledged U, elapsed T s
followed on the same line, when there were any, by the markers sent and
acknowledged, the first acknowledgements ignored and the stray acknowledgements
(those that settle nothing). Ctrl-C stops sending and waits for the outstanding
acknowledgements (a second Ctrl-C quits at once).

Exit status: 0 when every message was acknowledged, 1 when some were not (or the
link was lost, or could not be opened), 2 for a bad command line or file.
)help";
}

}  // namespace mylapssim
