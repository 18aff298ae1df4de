// MyLaps protocol: one message as the listener delivers it (no "$", no NUL) is answered by the
// token rules, each passing record is taken from its fixed positions, and every detection that
// goes to the host carries its record's chip and a race time that reads back the same.

#include <unistd.h>
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "base/Chrono.h"
#include "base/Logging.h"
#include "base/PostedMessage.h"
#include "delivery/BurstCommit.h"
#include "delivery/Outbox.h"
#include "intake/DagFile.h"
#include "intake/DetectionProcessor.h"
#include "intake/MyLapsProtocol.h"
#include "intake/SafeText.h"
#include "journal/Journal.h"
#include "net/DetectionListener.h"
#include "net/HostLink.h"
#include "net/MyLapsMessage.h"
#include "state/ActivityLists.h"
#include "support/CoreFakes.h"

namespace torvane::fuzz {
namespace {

constexpr const char* kOwnName = "Bag";

// Takes the log lines; posted messages need a target to be logged at all.
class LineSink : public QObject {
public:
    bool event(QEvent*) override { return true; }
};

void RemoveJournal(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
}

// A new journal file for each input: the journal's writer and its look-ups open the file each
// with a connection of their own, so it cannot live in memory.
std::string FreshJournalPath() {
    // Kept for the whole process (never destroyed), so that the exit handler can still use it.
    static const std::string& path = *[] {
        const char* folder = std::getenv("TMPDIR");
        auto* made = new std::string(std::string(folder && *folder ? folder : "/tmp") +
                                     "/torvane-fuzz-" + std::to_string(::getpid()) + ".db");
        std::atexit([] { RemoveJournal(FreshJournalPath()); });
        return made;
    }();
    RemoveJournal(path);
    return path;
}

// The program's parts that a message goes through, with a journal of its own, no host link and
// no source socket.
struct Intake {
    Intake() {
        state.ownName = kOwnName;
        state.flowOpen = true;
        state.raceDays = {"20261208", "20261209", "20261210", "20261211"};
        std::string error;
        journal.Open(FreshJournalPath(), error);
    }
    RunningState state;
    ActivityLists lists;
    DetectionListener listener{[](const std::string&) {}};
    HostLink hostLink;
    Journal journal;
    Outbox outbox{journal, hostLink};
    BurstCommit burst{journal, outbox, listener};
    DagFile dagFile{state};
    test::RecordingStatus status;
    test::ScriptedManualInput manualInput;
    DetectionProcessor processor{state,   lists.detections, journal,     outbox,
                                 dagFile, status,           manualInput, std::function<void()>()};
    MyLapsProtocol protocol{state,   hostLink, processor,
                            journal, burst,    MyLapsProtocol::LinkHooks{}};
};

// A name or chip code as the program shows and sends it.
std::string Safe(std::string text) {
    ReplaceControlBytes(text);
    return text;
}

// Nothing the source sends can cut a host command: five fields, one line.
bool IsOneCommandLine(const std::string& command) {
    const auto tabs = std::count(command.begin(), command.end(), '\t');
    const bool controls = std::any_of(command.begin(), command.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t') || byte == 0x7F;
    });
    return tabs == 4 && !controls;
}

std::string WithoutLineEnds(std::string text) {
    std::erase(text, '\r');
    std::erase(text, '\n');
    return text;
}

// The token rule: the last field after the command, or the one before it when that is empty.
std::optional<std::string> ExpectedToken(std::vector<std::string>& rest) {
    if (rest.empty()) return std::nullopt;
    std::string token = rest.back();
    rest.pop_back();
    if (!token.empty()) return token;
    if (rest.empty()) return std::nullopt;
    token = rest.back();
    rest.pop_back();
    return token;
}

// "HH:MM:SS.hh" with two digits of hours or more, that reads back as the same time.
bool IsRaceTimeText(const std::string& text) {
    const std::string tail = ":dd:dd.dd";
    if (text.size() < tail.size() + 2) return false;
    const std::size_t hours = text.size() - tail.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char shape = i < hours ? 'd' : tail[i - hours];
        const bool fits = shape == 'd' ? text[i] >= '0' && text[i] <= '9' : text[i] == shape;
        if (!fits) return false;
    }
    CChrono value;
    return value.ParseTime(text) && value.FormatElapsed() == text;
}

std::vector<std::string> LinesStartingWith(const std::vector<std::pair<int, std::string>>& lines,
                                           const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& [level, text] : lines) {
        if (text.starts_with(prefix)) found.push_back(text.substr(prefix.size()));
    }
    return found;
}

void CheckStore(const std::string& source, const std::vector<std::string>& passings,
                const std::vector<std::string>& commands,
                const std::vector<std::pair<int, std::string>>& lines) {
    FUZZ_CHECK(LinesStartingWith(lines, "<<< MYLAPS: ").size() == passings.size());
    // The commands follow the passings in order; each one is made of its passing's chip.
    std::size_t next = 0;
    for (const std::string& passing : passings) {
        if (next == commands.size()) break;
        const std::string prefix =
            "AddDagClock(1\t" + source + "\t" + Safe(passing.substr(0, 7)) + "\t1\t";
        const std::string& command = commands[next];
        if (!command.starts_with(prefix) || !command.ends_with(")")) continue;
        const std::string time = command.substr(prefix.size(), command.size() - prefix.size() - 1);
        FUZZ_CHECK(IsRaceTimeText(time));
        ++next;
    }
    FUZZ_CHECK(next == commands.size());
}

}  // namespace
}  // namespace torvane::fuzz

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication application(*argc, *argv);
    static torvane::fuzz::LineSink sink;
    torvane::SetMessageTarget(&sink);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane;
    using namespace torvane::fuzz;
    // The listener delivers the bytes before a "$", never empty, up to a NUL.
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find_first_of(std::string("$\0", 2)));
    if (text.empty()) return 0;

    std::vector<std::string> commands;
    std::vector<std::pair<int, std::string>> lines;
    {
        Intake intake;
        intake.protocol.OnMessage(std::make_unique<MyLapsMessage>(1, text));
        intake.burst.Flush();
        lines = TakePendingLogLines();
        for (const WaitingHostLine& line : intake.outbox.Waiting()) commands.push_back(line.text);
    }
    // The log lines posted meanwhile go to the sink.
    QCoreApplication::sendPostedEvents();
    DeliverPostedMessages();

    const std::vector<std::string> replies = LinesStartingWith(lines, ">>> MYLAPS: ");
    std::vector<std::string> fields = MyLapsProtocol::SplitFields(text);
    if (fields.size() < 2) {
        FUZZ_CHECK(replies.empty() && commands.empty());
        return 0;
    }
    for (const std::string& sent : commands) FUZZ_CHECK(IsOneCommandLine(sent));
    const std::string source = Safe(WithoutLineEnds(fields[0]));
    const std::string command = fields[1];
    std::vector<std::string> rest(fields.begin() + 2, fields.end());
    const std::string own = kOwnName;

    if (command == "Store" || command == "Marker") {
        const auto token = ExpectedToken(rest);
        if (!token) {
            FUZZ_CHECK(replies.empty() && commands.empty());
            return 0;
        }
        const std::string ack = command == "Store" ? "@AckStore@" : "@AckMarker@";
        FUZZ_CHECK(replies == std::vector<std::string>{own + ack + *token});
        if (command == "Store") {
            CheckStore(source, rest, commands, lines);
        } else {
            FUZZ_CHECK(commands.empty());
        }
        return 0;
    }
    if (command == "Passing") {
        const auto token = ExpectedToken(rest);
        if (!token) {
            FUZZ_CHECK(replies.empty() && commands.empty());
            return 0;
        }
        FUZZ_CHECK(replies == std::vector<std::string>{own + "@AckPassing@" + *token + "@"});
        FUZZ_CHECK(commands.size() <= rest.size());
        for (const std::string& sent : commands) {
            FUZZ_CHECK(sent.starts_with("AddDagClock(1\t" + source + "\t"));
            const std::size_t timeAt = sent.rfind('\t') + 1;
            FUZZ_CHECK(IsRaceTimeText(sent.substr(timeAt, sent.size() - timeAt - 1)));
        }
        return 0;
    }
    FUZZ_CHECK(commands.empty());
    if (command == "Ping" || command == "AckPing") {
        FUZZ_CHECK(replies == std::vector<std::string>{own + "@GetInfo@"});
    } else if (command == "Pong") {
        FUZZ_CHECK(replies == std::vector<std::string>{own + "@Ping@" + own + "@AckPong@"});
    } else {
        FUZZ_CHECK(replies.empty());
    }
    return 0;
}
