// The two rehearsal peers in tools/, each run as a child process against a small loopback peer
// written here: mylaps-sim against a listener that plays Torvane's MyLaps side, ostrak-sim
// against a client that plays Torvane's host link.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QProcess>
#include <QStringList>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TempFolder.h"
#include "support/TestName.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using torvane::test::TempFolder;
using torvane::test::TestNameOf;

constexpr auto kPatience = 5000ms;

std::string ToolsDir() {
    const char* dir = std::getenv("TORVANE_TOOLS_DIR");
    return dir ? dir : "";
}

#define SKIP_WITHOUT_TOOLS()                                                                     \
    if (ToolsDir().empty())                                                                      \
    GTEST_SKIP() << "TORVANE_TOOLS_DIR is not set: run the tests through ctest, or point it at " \
                    "<build>/bin after building mylaps-sim and ostrak-sim"

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

std::string NameOf(const QStringList& arguments) {
    return TestNameOf(arguments.join(' ').toStdString());
}

// A loopback socket with reads bounded by a deadline.
class Socket {
public:
    explicit Socket(int fd = -1) : fd_(fd) {}
    Socket(Socket&& other) noexcept : fd_(other.fd_), pending_(std::move(other.pending_)) {
        other.fd_ = -1;
    }
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }

    // Bound to a port of the system's choice but not listening yet: connections are refused.
    static Socket Bind(int& port) {
        Socket bound(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(bound.fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            getsockname(bound.fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return Socket();
        port = ntohs(address.sin_port);
        return bound;
    }
    bool StartListening() { return listen(fd_, 4) == 0; }

    static Socket Listen(int& port) {
        Socket listener = Bind(port);
        return listener.IsOpen() && listener.StartListening() ? std::move(listener) : Socket();
    }

    static Socket Connect(int port) {
        Socket client(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (connect(client.fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return Socket();
        return client;
    }

    Socket Accept() {
        return WaitReadable(kPatience) ? Socket(accept(fd_, nullptr, nullptr)) : Socket();
    }

    bool Send(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    // The text before the next `delimiter`; nothing when the wait ends or the peer closes first.
    std::optional<std::string> ReadUntil(char delimiter,
                                         std::chrono::milliseconds wait = kPatience) {
        const auto deadline = Clock::now() + wait;
        for (;;) {
            if (const auto end = pending_.find(delimiter); end != std::string::npos) {
                std::string text = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return text;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms || !WaitReadable(left)) return std::nullopt;
            char buffer[4096];
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) return std::nullopt;
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
    }

    // Closes the link with a reset, as the system does for a killed process with unread input.
    void Reset() {
        const linger abort{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(fd_);
        fd_ = -1;
    }

    // True when the peer closes (or resets) the link before sending anything more.
    bool ClosedByPeer(std::chrono::milliseconds wait = kPatience) {
        char byte;
        return pending_.empty() && WaitReadable(wait) && ::recv(fd_, &byte, 1, 0) <= 0;
    }

private:
    bool WaitReadable(std::chrono::milliseconds wait) {
        pollfd watched{fd_, POLLIN, 0};
        return poll(&watched, 1, static_cast<int>(wait.count())) == 1;
    }

    int fd_;
    std::string pending_;
};

// A tool run as a child process, killed if a test ends while it still runs.
class ToolProcess {
public:
    ToolProcess(const std::string& tool, const QStringList& arguments) {
        process_.start(QString::fromStdString(ToolsDir() + "/" + tool), arguments);
        started_ = process_.waitForStarted(static_cast<int>(kPatience.count()));
    }
    ~ToolProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(static_cast<int>(kPatience.count()));
        }
    }
    bool Started() const { return started_; }
    void Signal(int signal) { ::kill(static_cast<pid_t>(process_.processId()), signal); }

    // The exit status, or -1 when the tool does not end in time.
    int Finish() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(static_cast<int>(kPatience.count()))) return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    std::string Output() { return process_.readAllStandardOutput().toStdString(); }
    std::string Errors() { return process_.readAllStandardError().toStdString(); }
    void Write(const std::string& text) {
        process_.write(text.c_str());
        process_.waitForBytesWritten(static_cast<int>(kPatience.count()));
    }

    // The port in "listening on port N", the first output line of ostrak-sim; 0 if none.
    int ListeningPort() {
        const auto deadline = Clock::now() + kPatience;
        while (!process_.canReadLine() && Clock::now() < deadline) process_.waitForReadyRead(100);
        int port = 0;
        const std::string line = process_.readLine().toStdString();
        return std::sscanf(line.c_str(), "listening on port %d", &port) == 1 ? port : 0;
    }

private:
    QProcess process_;
    bool started_ = false;
};

// --- mylaps-sim ---------------------------------------------------------------------------

struct FamilyCase {
    const char* family;
    const char* timePattern;
};

class MyLapsSimFamilyTest : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(MyLapsSimFamilyTest, StoreCarriesRecordsAndTokenAndIsResentUntilAcknowledged) {
    SKIP_WITHOUT_TOOLS();
    TempFolder folder;
    int port = 0;
    Socket listener = Socket::Listen(port);
    ASSERT_TRUE(listener.IsOpen());
    ToolProcess sim(
        "mylaps-sim",
        {"--port", QString::number(port), "--source", "Loop7", "--count", "3", "--per-store", "3",
         "--backlog", "--family", GetParam().family, "--date", "260314", "--ack-timeout", "200",
         "--timing-log", QString::fromStdString(folder.File("timing.txt"))});
    ASSERT_TRUE(sim.Started());
    Socket link = listener.Accept();
    ASSERT_TRUE(link.IsOpen());

    EXPECT_EQ(link.ReadUntil('$'), "Loop7@Pong@");
    const std::optional<std::string> store = link.ReadUntil('$');
    ASSERT_TRUE(store);
    const std::vector<std::string> fields = Split(*store, '@');
    ASSERT_EQ(fields.size(), 7u) << *store;  // source, command, 3 records, token, empty tail
    EXPECT_EQ(fields[0], "Loop7");
    EXPECT_EQ(fields[1], "Store");
    EXPECT_EQ(fields[5], "1");
    const std::regex timeField(GetParam().timePattern);
    for (int i = 0; i < 3; ++i) {
        const std::string& record = fields[2 + i];
        ASSERT_EQ(record.size(), 39u) << record;
        EXPECT_EQ(record.substr(0, 7), "KV0000" + std::to_string(i + 1));
        EXPECT_TRUE(std::regex_match(record.substr(7, 12), timeField)) << record;
        EXPECT_EQ(record.substr(31, 6), "260314");
        unsigned sum = 0;
        for (unsigned char c : record.substr(0, 37)) sum += c;
        char checksum[3];
        std::snprintf(checksum, sizeof checksum, "%02X", sum % 256);
        EXPECT_EQ(record.substr(37), checksum);
    }

    // Torvane's answer to the greeting is answered; the Store comes again, unchanged, while it
    // has no acknowledgement (in either order: the resend does not wait for the answer).
    ASSERT_TRUE(link.Send("Bag@Ping@Bag@AckPong@$"));
    std::vector<std::string> next = {link.ReadUntil('$').value_or("(none)"),
                                     link.ReadUntil('$').value_or("(none)")};
    if (next[0] != "Loop7@AckPing@") std::swap(next[0], next[1]);
    EXPECT_EQ(next[0], "Loop7@AckPing@");
    EXPECT_EQ(next[1], *store);
    ASSERT_TRUE(link.Send("Bag@AckStore@1$"));

    EXPECT_EQ(sim.Finish(), 0);
    const std::string output = sim.Output();
    EXPECT_NE(output.find("acknowledged 1, resent "), std::string::npos) << output;
    EXPECT_NE(output.find("unacknowledged 0"), std::string::npos) << output;
    long long token = 0, sentNs = 0, ackNs = 0;
    ASSERT_EQ(
        std::sscanf(folder.Read("timing.txt").c_str(), "%lld %lld %lld", &token, &sentNs, &ackNs),
        3);
    EXPECT_EQ(token, 1);
    EXPECT_GT(ackNs, sentNs);
}

INSTANTIATE_TEST_SUITE_P(Families, MyLapsSimFamilyTest,
                         ::testing::Values(FamilyCase{"hundredths", R"( \d\d:\d\d:\d\d\.\d\d)"},
                                           FamilyCase{"thousandths", R"(\d\d:\d\d:\d\d\.\d\d\d)"}),
                         [](const auto& info) { return std::string(info.param.family); });

TEST(MyLapsSimTest, FilePassingsAreSentAsWrittenAndAMissingAckFailsTheRun) {
    SKIP_WITHOUT_TOOLS();
    TempFolder folder;
    const std::string raw = "AB12345 13:48:03.89  001  080  26031405";
    folder.Write("passings.txt", "# rehearsal\r\n" + raw + "\r\nZZ9 9:08:07.6 260315\r\n\r\n");
    int port = 0;
    Socket listener = Socket::Listen(port);
    ToolProcess sim("mylaps-sim",
                    {"--port", QString::number(port), "--from-file",
                     QString::fromStdString(folder.File("passings.txt")), "--per-store", "2",
                     "--family", "hundredths", "--ack-timeout", "0", "--wait-acks", "300",
                     "--timing-log", QString::fromStdString(folder.File("timing.txt"))});
    Socket link = listener.Accept();
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.ReadUntil('$'), "Loop1@Pong@");
    const std::optional<std::string> store = link.ReadUntil('$');
    ASSERT_TRUE(store);
    const std::vector<std::string> fields = Split(*store, '@');
    ASSERT_EQ(fields.size(), 6u) << *store;
    EXPECT_EQ(fields[2], raw);
    EXPECT_EQ(fields[3].substr(0, 19), "ZZ9     09:08:07.60");
    EXPECT_EQ(fields[3].substr(31, 6), "260315");

    EXPECT_EQ(sim.Finish(), 1);
    EXPECT_NE(sim.Output().find("unacknowledged 1"), std::string::npos);
    EXPECT_TRUE(link.ReadUntil('$', 100ms) == std::nullopt) << "resent with --ack-timeout 0";
    EXPECT_NE(folder.Read("timing.txt").find(" -1"), std::string::npos);
}

TEST(MyLapsSimTest, PassingDialectSendsKeyedRecordsAndOnlyAckPassingSettlesThem) {
    SKIP_WITHOUT_TOOLS();
    int port = 0;
    Socket listener = Socket::Listen(port);
    ASSERT_TRUE(listener.IsOpen());
    ToolProcess sim("mylaps-sim",
                    {"--port", QString::number(port), "--dialect", "passing", "--source", "Loop7",
                     "--count", "3", "--per-store", "3", "--backlog", "--marker-every", "1",
                     "--date", "260314", "--ack-timeout", "200"});
    ASSERT_TRUE(sim.Started());
    Socket link = listener.Accept();
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.ReadUntil('$'), "Loop7@Pong@");
    const std::optional<std::string> passing = link.ReadUntil('$');
    ASSERT_TRUE(passing);
    const std::vector<std::string> fields = Split(*passing, '@');
    ASSERT_EQ(fields.size(), 7u) << *passing;  // source, command, 3 records, number, empty tail
    EXPECT_EQ(fields[1], "Passing");
    EXPECT_EQ(fields[5], "1");
    for (int i = 0; i < 3; ++i) {
        const std::regex record(R"(t=\d\d:\d\d:\d\d\.\d\d\d\|c=KV0000)" + std::to_string(i + 1) +
                                R"(\|ct=UH\|d=260314\|l=\d+\|dv=4\|re=0\|an=00001111\|g=0)");
        EXPECT_TRUE(std::regex_match(fields[2 + i], record)) << fields[2 + i];
    }
    const std::optional<std::string> marker = link.ReadUntil('$');
    ASSERT_TRUE(marker);
    EXPECT_TRUE(std::regex_match(
        *marker,
        std::regex(R"(Loop7@Marker@t=\d\d:\d\d:\d\d\.\d\d\d\|mt=Gunshot\|n=Gunshot 2@2@)")))
        << *marker;

    // The Store dialect's acknowledgement settles nothing here: the message comes again.
    ASSERT_TRUE(link.Send("Bag@AckStore@1$Bag@AckMarker@2$"));
    EXPECT_EQ(link.ReadUntil('$'), *passing);
    ASSERT_TRUE(link.Send("Bag@AckPassing@1@$"));
    EXPECT_EQ(sim.Finish(), 0);
    const std::string output = sim.Output();
    EXPECT_NE(output.find("summary: sent 1 Passing messages (3 passings), acknowledged 1, resent "),
              std::string::npos)
        << output;
    EXPECT_NE(output.find(", markers sent 1 and acknowledged 1"), std::string::npos) << output;
    EXPECT_NE(output.find(", stray acknowledgements 1"), std::string::npos) << output;
}

struct IgnoredAckCase {
    const char* which;
    std::vector<std::string> resent;
};

class MyLapsSimIgnoredAckTest : public ::testing::TestWithParam<IgnoredAckCase> {};

// What the lead's process tests use to force a resend: the named messages come twice.
TEST_P(MyLapsSimIgnoredAckTest, TheFirstAcknowledgementOfTheNamedMessagesIsIgnored) {
    SKIP_WITHOUT_TOOLS();
    int port = 0;
    Socket listener = Socket::Listen(port);
    ToolProcess sim("mylaps-sim",
                    {"--port", QString::number(port), "--dialect", "passing", "--count", "2",
                     "--backlog", "--ack-timeout", "100", "--ignore-first-ack", GetParam().which});
    Socket link = listener.Accept();
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.ReadUntil('$'), "Loop1@Pong@");
    std::vector<std::string> sent = {link.ReadUntil('$').value_or(""),
                                     link.ReadUntil('$').value_or("")};
    ASSERT_TRUE(link.Send("Bag@AckPassing@1@$Bag@AckPassing@2@$"));
    for (const std::string& number : GetParam().resent) {
        const std::optional<std::string> again = link.ReadUntil('$');
        ASSERT_TRUE(again);
        EXPECT_EQ(*again, sent[std::stoul(number) - 1]);
        ASSERT_TRUE(link.Send("Bag@AckPassing@" + number + "@$"));
    }
    EXPECT_EQ(sim.Finish(), 0);
    const std::string output = sim.Output();
    const std::string count = std::to_string(GetParam().resent.size());
    EXPECT_NE(output.find("acknowledged 2, resent " + count + ","), std::string::npos) << output;
    EXPECT_NE(output.find("first acknowledgements ignored " + count), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(Messages, MyLapsSimIgnoredAckTest,
                         ::testing::Values(IgnoredAckCase{"2", {"2"}},
                                           IgnoredAckCase{"all", {"1", "2"}}),
                         [](const auto& info) {
                             return "Ignored_" + TestNameOf(info.param.which);
                         });

TEST(MyLapsSimTest, PassingDialectFileLinesAreComposedOrSentAsWritten) {
    SKIP_WITHOUT_TOOLS();
    TempFolder folder;
    const std::string raw = "c=41AA06C|t=23:00:17.105920|d=261208";
    folder.Write("passings.txt", raw + "\nE200001D5B0C0123456789AB 9:08:07.6 260315\n");
    int port = 0;
    Socket listener = Socket::Listen(port);
    ToolProcess sim("mylaps-sim",
                    {"--port", QString::number(port), "--dialect", "passing", "--from-file",
                     QString::fromStdString(folder.File("passings.txt")), "--per-store", "2"});
    Socket link = listener.Accept();
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.ReadUntil('$'), "Loop1@Pong@");
    EXPECT_EQ(link.ReadUntil('$'),
              "Loop1@Passing@" + raw +
                  "@t=09:08:07.600|c=E200001D5B0C0123456789AB|ct=UH|d=260315|l=1|dv=4|re=0|"
                  "an=00001111|g=0@1@");
    ASSERT_TRUE(link.Send("Bag@AckPassing@1@$"));
    EXPECT_EQ(sim.Finish(), 0);
}

TEST(SimulatorsQuietTest, PrintNothingButTheirSummaryLines) {
    SKIP_WITHOUT_TOOLS();
    ToolProcess host("ostrak-sim", {"--port", "0", "--quiet"});
    const int hostPort = host.ListeningPort();
    ASSERT_GT(hostPort, 0);
    {
        Socket hostLink = Socket::Connect(hostPort);
        ASSERT_TRUE(hostLink.Send("Ping()\r\nAddDagClock(1\tLoop1\t12\t1\t10:00:01.25)\r\n"));
        EXPECT_TRUE(hostLink.ReadUntil('\n'));
        EXPECT_TRUE(hostLink.ReadUntil('\n'));
    }
    host.Write("quit\n");
    EXPECT_EQ(host.Finish(), 0);
    EXPECT_EQ(host.Output(), "summary: received 2 requests (1 detections) on 1 links\n");

    int port = 0;
    Socket listener = Socket::Listen(port);
    ToolProcess sim("mylaps-sim",
                    {"--port", QString::number(port), "--count", "2", "--backlog", "--quiet"});
    Socket link = listener.Accept();
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.ReadUntil('$'), "Loop1@Pong@");
    ASSERT_TRUE(link.ReadUntil('$'));
    ASSERT_TRUE(link.ReadUntil('$'));
    ASSERT_TRUE(link.Send("Bag@Ping@Bag@AckPong@$Bag@AckStore@1$Bag@AckStore@2$"));
    EXPECT_EQ(sim.Finish(), 0);
    EXPECT_TRUE(std::regex_match(
        sim.Output(),
        std::regex("summary: sent 2 Store messages \\(2 passings\\), acknowledged 2, resent 0, "
                   "unacknowledged 0, elapsed [0-9.]+ s\n")))
        << sim.Output();
}

// Until Torvane listens, a quiet source that reconnects says nothing.
TEST(SimulatorsQuietTest, MyLapsSimWaitsForTorvaneInSilence) {
    SKIP_WITHOUT_TOOLS();
    int port = 0;
    Socket listener = Socket::Bind(port);
    ASSERT_TRUE(listener.IsOpen());
    ToolProcess sim("mylaps-sim", {"--port", QString::number(port), "--count", "1", "--backlog",
                                   "--quiet", "--reconnect", "--reconnect-delay", "20"});
    std::this_thread::sleep_for(300ms);  // several refused attempts
    ASSERT_TRUE(listener.StartListening());
    Socket link = listener.Accept();
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.ReadUntil('$'), "Loop1@Pong@");
    ASSERT_TRUE(link.ReadUntil('$'));
    ASSERT_TRUE(link.Send("Bag@AckStore@1$"));
    EXPECT_EQ(sim.Finish(), 0);
    EXPECT_EQ(sim.Errors(), "");
}

struct BadPassingFile {
    const char* content;
    const char* complaint;
    const char* dialect = "store";
};

class MyLapsSimBadFileTest : public ::testing::TestWithParam<BadPassingFile> {};

TEST_P(MyLapsSimBadFileTest, StopsBeforeConnectingAndNamesTheLine) {
    SKIP_WITHOUT_TOOLS();
    TempFolder folder;
    folder.Write("passings.txt", std::string("KV00001 10:00:00.000\n") + GetParam().content);
    ToolProcess sim("mylaps-sim", {"--port", "9", "--dialect", GetParam().dialect, "--from-file",
                                   QString::fromStdString(folder.File("passings.txt"))});
    EXPECT_EQ(sim.Finish(), 2);
    const std::string errors = sim.Errors();
    EXPECT_NE(errors.find("passings.txt:2: "), std::string::npos) << errors;
    EXPECT_NE(errors.find(GetParam().complaint), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MyLapsSimBadFileTest,
    ::testing::Values(BadPassingFile{"KV000001 10:00:00.000\n", "longer than 7"},
                      BadPassingFile{"KV00001 10:61:00\n", "time"},
                      BadPassingFile{"KV00001 10:00:00.1234\n", "time"},
                      BadPassingFile{"KV00001 10:00:00 261340\n", "date"},
                      BadPassingFile{"KV@0001 10:00:00\n", "'@'"},
                      BadPassingFile{"KV00001\n", "CHIP TIME"},
                      BadPassingFile{"KV|0001 10:00:00\n", "'|'", "passing"},
                      BadPassingFile{"KV00001AB13:48:03.89  001  080  "
                                     "26031405\n",
                                     "record with \"=\"", "passing"}),
    [](const auto& info) {
        return TestNameOf(std::string(info.param.dialect) + " " + info.param.content);
    });

TEST(MyLapsSimTest, ReconnectsAndResendsWhatWasNotAcknowledged) {
    SKIP_WITHOUT_TOOLS();
    int port = 0;
    Socket listener = Socket::Listen(port);
    ToolProcess sim("mylaps-sim", {"--port", QString::number(port), "--count", "1", "--ack-timeout",
                                   "0", "--reconnect", "--reconnect-delay", "50"});
    std::optional<std::string> store;
    {
        Socket first = listener.Accept();
        ASSERT_TRUE(first.IsOpen());
        EXPECT_EQ(first.ReadUntil('$'), "Loop1@Pong@");
        store = first.ReadUntil('$');
        ASSERT_TRUE(store);
    }  // the link drops without an acknowledgement
    Socket second = listener.Accept();
    ASSERT_TRUE(second.IsOpen());
    EXPECT_EQ(second.ReadUntil('$'), "Loop1@Pong@");
    EXPECT_EQ(second.ReadUntil('$'), *store);
    ASSERT_TRUE(second.Send("Bag@AckStore@1$"));
    EXPECT_EQ(sim.Finish(), 0);
    EXPECT_NE(sim.Output().find("acknowledged 1, resent 1,"), std::string::npos);
}

TEST(MyLapsSimTest, AnswersTorvaneAndWaitsForAcknowledgementsWhenTheWindowIsFull) {
    SKIP_WITHOUT_TOOLS();
    int port = 0;
    Socket listener = Socket::Listen(port);
    ToolProcess sim("mylaps-sim", {"--port", QString::number(port), "--count", "2", "--rate",
                                   "1000", "--window", "1", "--source", "Box"});
    Socket link = listener.Accept();
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.ReadUntil('$'), "Box@Pong@");
    const std::optional<std::string> first = link.ReadUntil('$');
    ASSERT_TRUE(first);
    EXPECT_EQ(Split(*first, '@').at(3), "1");

    // Answered in order; the second Store does not slip in while the first is unacknowledged,
    // and an "AckMarker" with the Store's token neither settles it nor gets an answer.
    const std::vector<std::pair<std::string, std::string>> exchanges = {
        {"Bag@GetInfo@$", "Box@AckGetInfo@Box@mylaps-sim@"},
        {"Bag@Pong@$", "Box@AckPong@"},
        {"\r\nBag@Ping@Bag@AckPong@$", "Box@AckPing@"},
        {"Bag@AckMarker@1$Bag@Ping@$", "Box@AckPing@"},
    };
    for (const auto& [message, answer] : exchanges) {
        ASSERT_TRUE(link.Send(message));
        EXPECT_EQ(link.ReadUntil('$'), answer) << message;
    }
    ASSERT_TRUE(link.Send("Bag@AckStore@1$"));
    const std::optional<std::string> second = link.ReadUntil('$');
    ASSERT_TRUE(second);
    EXPECT_EQ(Split(*second, '@').at(3), "2");
    ASSERT_TRUE(link.Send("Bag@AckStore@2$"));
    EXPECT_EQ(sim.Finish(), 0);
}

struct BadCommandLine {
    QStringList arguments;
    const char* complaint;
};

class MyLapsSimBadCommandLineTest : public ::testing::TestWithParam<BadCommandLine> {};

TEST_P(MyLapsSimBadCommandLineTest, StopsWithStatusTwoAndSaysWhy) {
    SKIP_WITHOUT_TOOLS();
    ToolProcess sim("mylaps-sim", GetParam().arguments);
    EXPECT_EQ(sim.Finish(), 2);
    const std::string errors = sim.Errors();
    EXPECT_NE(errors.find(GetParam().complaint), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MyLapsSimBadCommandLineTest,
    ::testing::Values(
        BadCommandLine{{"--family", "tenths"}, "--family expects"},
        BadCommandLine{{"--port", "70000"}, "--port expects"},
        BadCommandLine{{"--count"}, "--count needs a value"},
        BadCommandLine{{"--backlog=yes"}, "--backlog takes no value"},
        BadCommandLine{{"--source", "A@B"}, "--source expects"},
        BadCommandLine{{"--chip-prefix", "ABCDEF", "--riders", "50"}, "too few digits"},
        BadCommandLine{{"--bogus"}, "unknown option --bogus"},
        BadCommandLine{{"--dialect", "xml"}, "--dialect expects"},
        BadCommandLine{{"--quiet", "--print-acks"}, "--quiet cannot"},
        BadCommandLine{{"--ignore-first-ack", "1,x"}, "--ignore-first-ack expects"},
        BadCommandLine{{"--ignore-first-ack", "all", "--ack-timeout", "0"}, "needs --ack-timeout"}),
    [](const auto& info) { return NameOf(info.param.arguments); });

// --- ostrak-sim ---------------------------------------------------------------------------

TEST(OstrakSimTest, AnswersQueriesAndRunnerResultsAndLogsEveryLine) {
    SKIP_WITHOUT_TOOLS();
    TempFolder folder;
    folder.Write("runners.txt", "12;DUPONT;Jean;M;SE;AC Lyon\n13;MARTIN;Claire;F;SE\n");
    ToolProcess host("ostrak-sim", {"--port", "0", "--runners",
                                    QString::fromStdString(folder.File("runners.txt")), "--log",
                                    QString::fromStdString(folder.File("host.log"))});
    const int port = host.ListeningPort();
    ASSERT_GT(port, 0);
    Socket link = Socket::Connect(port);
    ASSERT_TRUE(link.IsOpen());

    const std::vector<std::pair<std::string, std::string>> exchanges = {
        {"GetMode()", "NFO:24 "},
        {"GetUserName()", "NFO:25 "},
        {"GetCompetitionName()", "NFO:5 "},
        {"GetFilename()", "NFO:6 "},
        {"GetVersion()", "NFO:27 "},
        {"GetPrintableVersion()", "NFO:28 "},
        {"GetDetectorList()", "NFO:7 "},
        {"Ping()", "NFO:20"},
        {"Foo()", "ERR:103"},
        {"GetMode(x)", "ERR:104"},
        {"AddDagClock(1\tLoop1\t12\t1\t10:00:01)", "ERR:104"},
        {"AddDagClock(1\tLoop1\t12)", "ERR:104"},
        {std::string(5000, 'x'), "ERR:104"},
    };
    for (const auto& [request, answer] : exchanges) {
        ASSERT_TRUE(link.Send(request + "\r\n"));
        const std::optional<std::string> line = link.ReadUntil('\n');
        ASSERT_TRUE(line) << request;
        EXPECT_EQ(line->substr(0, answer.size()), answer) << request;
    }

    // Checked result fields: 3 passage, 7 overall rank, 10 bib, 11 first name, 13 group A,
    // 17 time, 19 result code.
    struct Detection {
        std::string bib, time, passage, overallRank, bibField, firstName, groupA, timeText, code;
    };
    const std::vector<Detection> detections = {
        {"12", "10:00:01.25", "1", "1", "12", "Jean", "M", "10:00:01.25", "3"},
        {"13", "10:00:02.50", "1", "2", "13", "Claire", "F", "10:00:02.50", "3"},
        {"12", "26:10:00.00", "2", "1", "12", "Jean", "M", "26:10:00.00", "3"},
        {"99", "10:00:03.00", "0", "0", "99", "", "", "00:00:00", "-5"},
        {"KV00042", "10:00:04.00", "0", "0", "0", "", "", "00:00:00", "-5"},
    };
    for (const Detection& d : detections) {
        ASSERT_TRUE(link.Send("AddDagClock(1\tLoop1\t" + d.bib + "\t1\t" + d.time + ")\r\n"));
        const std::optional<std::string> line = link.ReadUntil('\n');
        ASSERT_TRUE(line);
        ASSERT_EQ(line->substr(0, 6), "RES:1\\");
        const std::vector<std::string> f = Split(line->substr(6), '\\');
        ASSERT_EQ(f.size(), 19u) << *line;
        EXPECT_EQ(f[2], d.passage) << *line;
        EXPECT_EQ(f[6], d.overallRank) << *line;
        EXPECT_EQ(f[9], d.bibField) << *line;
        EXPECT_EQ(f[10], d.firstName) << *line;
        EXPECT_EQ(f[12], d.groupA) << *line;
        EXPECT_EQ(f[16], d.timeText) << *line;
        EXPECT_EQ(f[18], d.code) << *line;
    }

    host.Write("quit\n");
    EXPECT_EQ(host.Finish(), 0);
    const std::vector<std::string> logged = Split(folder.Read("host.log"), '\n');
    ASSERT_EQ(logged.size(), exchanges.size() + detections.size() + 1);  // + the empty tail
    long long previousNs = 0;
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        const auto blank = logged[i].find(' ');
        ASSERT_NE(blank, std::string::npos);
        const long long ns = std::stoll(logged[i].substr(0, blank));
        EXPECT_GE(ns, previousNs);
        previousNs = ns;
        const std::string& request = exchanges[i].first;
        EXPECT_EQ(logged[i].substr(blank + 1), request.substr(0, 4096));
    }
}

struct AnswerModeCase {
    QStringList arguments;
    const char* answerStart;
    std::size_t fieldCount;  // backslash-separated fields of the whole answer, 0 for none
};

class OstrakSimAnswerModeTest : public ::testing::TestWithParam<AnswerModeCase> {};

TEST_P(OstrakSimAnswerModeTest, DetectionAnswerFollowsTheMode) {
    SKIP_WITHOUT_TOOLS();
    TempFolder folder;
    folder.Write("runners.txt", "7;LEGRAND;Paul;M;V1;\n");
    QStringList arguments = {"--port", "0", "--runners",
                             QString::fromStdString(folder.File("runners.txt"))};
    ToolProcess host("ostrak-sim", arguments + GetParam().arguments);
    Socket link = Socket::Connect(host.ListeningPort());
    ASSERT_TRUE(link.IsOpen());

    ASSERT_TRUE(link.Send("AddDagClock(1\tLoop1\t7\t1\t09:00:00.00)\r\nPing()\r\n"));
    const std::optional<std::string> line = link.ReadUntil('\n');
    ASSERT_TRUE(line);
    const std::string start = GetParam().answerStart;
    EXPECT_EQ(line->substr(0, start.size()), start);
    if (GetParam().fieldCount > 0) {
        EXPECT_EQ(Split(*line, '\\').size(), GetParam().fieldCount) << *line;
        EXPECT_EQ(link.ReadUntil('\n'), "NFO:20");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OstrakSimAnswerModeTest,
    ::testing::Values(AnswerModeCase{{"--answer", "result"}, "RES:1\\", 20},
                      AnswerModeCase{{"--answer", "tagged", "--tag", "hm04"}, "hm04\\1\\", 15},
                      AnswerModeCase{{"--answer", "tagged", "--tag", "hm05"}, "hm05\\1\\", 17},
                      AnswerModeCase{{"--answer", "tagged"}, "hm06\\1\\", 18},
                      AnswerModeCase{{"--answer", "error", "--error-code", "202"}, "ERR:202", 0},
                      AnswerModeCase{{"--answer", "none"}, "NFO:20", 0}),
    [](const auto& info) { return NameOf(info.param.arguments); });

// Connects and pings until the answer shows the wanted state: refused (closed at once) or
// served. The operator's commands reach the simulator with some delay.
bool EventuallyRefused(int port, bool refused) {
    const auto deadline = Clock::now() + kPatience;
    while (Clock::now() < deadline) {
        Socket link = Socket::Connect(port);
        if (link.IsOpen()) {
            link.Send("Ping()\r\n");
            const bool answered = link.ReadUntil('\n', 1000ms) == std::string("NFO:20");
            if (answered != refused) return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(OstrakSimTest, DropsTheLinkOnceAfterTheGivenRequestsAndObeysTheOperator) {
    SKIP_WITHOUT_TOOLS();
    ToolProcess host("ostrak-sim", {"--port", "0", "--drop-after", "2"});
    const int port = host.ListeningPort();
    ASSERT_GT(port, 0);
    // One request at a time, so that no unread request turns the close into a reset.
    const auto pingOnce = [](Socket& link) {
        return link.Send("Ping()\r\n") && link.ReadUntil('\n') == std::string("NFO:20");
    };
    {
        Socket first = Socket::Connect(port);
        EXPECT_TRUE(pingOnce(first));
        EXPECT_TRUE(pingOnce(first));
        EXPECT_TRUE(first.ClosedByPeer());
    }
    Socket second = Socket::Connect(port);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(pingOnce(second)) << "dropped again";

    host.Write("drop\n");
    EXPECT_TRUE(second.ClosedByPeer());
    host.Write("refuse on\n");
    EXPECT_TRUE(EventuallyRefused(port, true));
    host.Write("refuse off\n");
    EXPECT_TRUE(EventuallyRefused(port, false));
    host.Write("quit\n");
    EXPECT_EQ(host.Finish(), 0);
}

// A peer killed with answers unread resets the link: the lines it sent before still count,
// however late the host reads them.
TEST(OstrakSimTest, LinesSentBeforeAResetAreAllRead) {
    SKIP_WITHOUT_TOOLS();
    TempFolder folder;
    ToolProcess host("ostrak-sim",
                     {"--port", "0", "--log", QString::fromStdString(folder.File("host.log"))});
    const int port = host.ListeningPort();
    ASSERT_GT(port, 0);
    Socket link = Socket::Connect(port);
    ASSERT_TRUE(link.Send("Ping()\r\n"));
    ASSERT_EQ(link.ReadUntil('\n'), std::string("NFO:20"));
    host.Signal(SIGSTOP);  // the lines wait in the host's socket
    constexpr int kLines = 500;
    std::string lines;
    for (int i = 0; i < kLines; ++i) lines += "Ping()\r\n";
    ASSERT_TRUE(link.Send(lines));
    link.Send("GetMode()\r\n");  // left unanswered when the reset comes
    link.Reset();
    host.Signal(SIGCONT);
    const auto pings = [&] {
        const std::string log = torvane::test::ReadFile(folder.File("host.log"));
        int count = 0;
        for (std::size_t at = 0; (at = log.find(" Ping()", at)) != std::string::npos; ++at) ++count;
        return count;
    };
    const auto deadline = Clock::now() + kPatience;
    while (pings() < kLines + 1 && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(pings(), kLines + 1);
    host.Write("quit\n");
    EXPECT_EQ(host.Finish(), 0);
}

TEST(OstrakSimTest, RefusingByNotListeningMakesConnectionsFail) {
    SKIP_WITHOUT_TOOLS();
    ToolProcess host("ostrak-sim", {"--port", "0", "--refuse", "--refuse-how", "no-listen"});
    const int port = host.ListeningPort();
    ASSERT_GT(port, 0);
    EXPECT_FALSE(Socket::Connect(port).IsOpen());
    host.Write("refuse off\n");
    EXPECT_TRUE(EventuallyRefused(port, false));
    host.Write("quit\n");
    EXPECT_EQ(host.Finish(), 0);
}

TEST(OstrakSimTest, BadRunnersFileStopsItNamingTheLine) {
    SKIP_WITHOUT_TOOLS();
    TempFolder folder;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"12;DUPONT;Jean\n12;MARTIN;Claire\n", "bib 12 appears twice"},
        {"12;DUPONT;Jean\nabc;MARTIN;Claire\n", "bib is not a number"},
        {"12;DUPONT;Jean\n13;MARTIN\n", "expected BIB;LASTNAME;FIRSTNAME"},
    };
    for (const auto& [content, complaint] : cases) {
        folder.Write("runners.txt", content);
        ToolProcess host("ostrak-sim", {"--port", "0", "--runners",
                                        QString::fromStdString(folder.File("runners.txt"))});
        EXPECT_EQ(host.Finish(), 2) << content;
        const std::string errors = host.Errors();
        EXPECT_NE(errors.find("runners.txt:2: " + complaint), std::string::npos) << errors;
    }
}

}  // namespace
