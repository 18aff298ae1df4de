#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace mylapssim {

enum class TimeFamily { Hundredths, Thousandths };

// Store: fixed-width records in "Store" messages, acknowledged by "AckStore".
// Passing: "key=value" records in "Passing" messages, acknowledged by "AckPassing".
enum class Dialect { Store, Passing };

// Everything the command line can set.
struct Options {
    std::string host = "127.0.0.1";
    int port = 3097;
    std::string source = "Loop1";
    Dialect dialect = Dialect::Store;

    double rate = 10.0;         // passings per second
    int perStore = 1;           // passings per message, in either dialect
    std::optional<long> count;  // default 10 generated passings, or the whole file
    bool backlog = false;
    int window = 0;  // largest number of unacknowledged messages of passings, 0 = no limit
    int markerEvery = 0;

    std::string fromFile;
    std::string chipsFile;
    int riders = 50;
    std::string chipPrefix = "KV";
    TimeFamily family = TimeFamily::Thousandths;
    std::string date;  // YYMMDD, empty = the local date of each passing

    int ackTimeoutMs = 2000;
    int waitAcksMs = 10000;
    int pingEveryMs = 0;
    bool reconnect = false;
    int reconnectDelayMs = 1000;
    int connectTimeoutMs = 3000;
    // Messages whose first acknowledgement is treated as lost, so that they are sent again.
    bool ignoreEveryFirstAck = false;
    std::set<long> ignoreFirstAckOf;

    bool printAcks = false;
    bool verbose = false;
    bool quiet = false;
    std::string timingLog;
    bool help = false;
};

struct ParsedOptions {
    Options options;
    std::string error;  // empty when the command line is sound
};

ParsedOptions ParseOptions(int argc, const char* const* argv);
std::string HelpText();

// True for a text that can stand in a MyLaps field: no "@", no "$", no line end.
bool IsFieldSafe(const std::string& text);
// True for a text that can stand as a value in a "Passing" record: field-safe and no "|".
bool IsValueSafe(const std::string& text);

}  // namespace mylapssim
