// An acknowledgement is a promise: whatever ends Torvane in the middle of a stream, every passing
// the source saw acknowledged reaches the host once, in order, after a restart.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

#include "CountingHost.h"
#include "HostSimulator.h"
#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

constexpr int kPassings = 300;

std::string Chip(int n) {
    char chip[16];
    std::snprintf(chip, sizeof chip, "C%06d", n);
    return chip;
}

// One passing a second from 10:00:00, each with a chip of its own.
std::string PassingsFile(int count) {
    std::string text;
    for (int n = 1; n <= count; ++n) {
        char line[64];
        std::snprintf(line, sizeof line, "%s %d:%02d:%02d.%03d\n", Chip(n).c_str(), 10 + n / 3600,
                      n / 60 % 60, n % 60, n % 1000);
        text += line;
    }
    return text;
}

// The chips of the detections a host log holds, in arrival order.
std::vector<int> DetectionsAtTheHost(const std::string& log) {
    std::vector<int> chips;
    const std::regex detection("AddDagClock\\(1\tLoop1\tC(\\d{6})\t1\t");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), detection);
         it != std::sregex_iterator(); ++it) {
        chips.push_back(std::stoi((*it)[1]));
    }
    return chips;
}

std::size_t Count(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

enum class Ending { Kill, Quit, Terminate };

struct EndingCase {
    const char* name;
    Ending ending;
};

void PrintTo(const EndingCase& c, std::ostream* out) {
    *out << c.name;
}

class DeliveryPromiseTest : public ::testing::Test {
public:
    void SetUp() override {
        WriteWholeFile(PassingsPath(), PassingsFile(kPassings));
        torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(myLapsPort) +
                         "\n[Torvane]\nBTorvHaltedAtStartup=NO\n[Ostrak]\nHost=127.0.0.1\nPort=" +
                         std::to_string(hostPort) + "\n");
    }
    void TearDown() override {
        source.kill();
        source.waitForFinished(5000);
    }

    std::string PassingsPath() const { return torvane.DataFolder() + "/passings.txt"; }
    std::string HostLog() const { return torvane.DataFolder() + "/host.log"; }

    bool StartTorvane() {
        return torvane.Start({"--headless"}) &&
               torvane.WaitForOutput("Démarrage Torvane - Version");
    }
    void StartSource(const QStringList& extra = {}) {
        source.setProcessChannelMode(QProcess::MergedChannels);
        source.start(QString::fromStdString(ToolPath("mylaps-sim")),
                     QStringList{"--port", QString::number(myLapsPort), "--from-file",
                                 QString::fromStdString(PassingsPath()), "--per-store", "5",
                                 "--rate", "400", "--reconnect", "--reconnect-delay", "200",
                                 "--ack-timeout", "1000", "--wait-acks", "60000", "--quiet"} +
                         extra);
        ASSERT_TRUE(source.waitForStarted(5000));
    }
    // Waits until Torvane has acknowledged at least `count` Stores.
    bool WaitForAcknowledgements(std::size_t count) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (Count(ReadWholeFile(torvane.LogPath()), ">>> MYLAPS: Bag@AckStore@") < count) {
            if (elapsed.elapsed() > 20000) return false;
            QThread::msleep(5);
        }
        return true;
    }
    void End(Ending ending) {
        switch (ending) {
            case Ending::Kill:
                torvane.Signal(SIGKILL);
                break;
            case Ending::Quit:
                torvane.Write("quit\n");
                break;
            case Ending::Terminate:
                torvane.Signal(SIGTERM);
                break;
        }
        ASSERT_TRUE(torvane.WaitForExit());
    }
    // The source's summary once it has had every acknowledgement.
    std::string WaitForTheSource() {
        EXPECT_TRUE(source.waitForFinished(90000));
        const std::string summary = source.readAll().toStdString();
        EXPECT_EQ(source.exitCode(), 0) << summary;
        return summary;
    }
    std::vector<int> WaitForDetections(std::size_t count) {
        QElapsedTimer elapsed;
        elapsed.start();
        std::vector<int> chips = DetectionsAtTheHost(ReadWholeFile(HostLog()));
        while (chips.size() < count && elapsed.elapsed() < 30000) {
            QThread::msleep(20);
            chips = DetectionsAtTheHost(ReadWholeFile(HostLog()));
        }
        return chips;
    }

    int myLapsPort = FreePort();
    int hostPort = FreePort();
    TorvaneProcess torvane;
    HostSimulator host;
    QProcess source;
};

class HostAwayTest : public DeliveryPromiseTest,
                     public ::testing::WithParamInterface<EndingCase> {};

// The host is away while the stream runs and Torvane ends in its middle; the host comes back
// before the restart. Nothing is lost and nothing is sent twice.
TEST_P(HostAwayTest, EveryAcknowledgedPassingReachesTheHostOnceInOrder) {
    ASSERT_TRUE(StartTorvane());
    StartSource();
    ASSERT_TRUE(WaitForAcknowledgements(20)) << torvane.Output();
    End(GetParam().ending);

    ASSERT_TRUE(host.Start(HostLog(), "", hostPort));
    ASSERT_TRUE(StartTorvane());
    const std::string summary = WaitForTheSource();
    std::vector<int> expected;
    for (int n = 1; n <= kPassings; ++n) expected.push_back(n);
    EXPECT_EQ(WaitForDetections(kPassings), expected) << summary;
    EXPECT_TRUE(torvane.WaitForLog(" détections en attente d'envoi à Ostrak Pro"));
    torvane.Write("quit\n");
    EXPECT_TRUE(torvane.WaitForExit());
}

INSTANTIATE_TEST_SUITE_P(Endings, HostAwayTest,
                         ::testing::Values(EndingCase{"Killed", Ending::Kill},
                                           EndingCase{"Quit", Ending::Quit},
                                           EndingCase{"Terminated", Ending::Terminate}),
                         [](const auto& info) { return std::string(info.param.name); });

// With the host up and a fast stream, a kill loses nothing; only lines in flight at the kill
// may reach the host twice.
TEST_F(DeliveryPromiseTest, AKillWhileTheHostIsUpLosesNothing) {
    ASSERT_TRUE(host.Start(HostLog(), "", hostPort));
    ASSERT_TRUE(StartTorvane());
    StartSource({"--backlog"});
    ASSERT_TRUE(WaitForAcknowledgements(20)) << torvane.Output();
    End(Ending::Kill);
    ASSERT_TRUE(StartTorvane());
    WaitForTheSource();
    const std::vector<int> chips = WaitForDetections(kPassings);
    std::map<int, int> seen;
    for (int chip : chips) ++seen[chip];
    int twice = 0;
    for (int n = 1; n <= kPassings; ++n) {
        EXPECT_GE(seen[n], 1) << "passing " << n << " lost";
        EXPECT_LE(seen[n], 2) << "passing " << n;
        twice += seen[n] == 2 ? 1 : 0;
    }
    std::printf("killed with the host up: %d of %d passings reached the host twice\n", twice,
                kPassings);
    torvane.Write("quit\n");
    EXPECT_TRUE(torvane.WaitForExit());
}

// A journal that cannot be opened acknowledges nothing, and says why once.
TEST_F(DeliveryPromiseTest, AnUnwritableJournalAcknowledgesNothing) {
    ::mkdir((torvane.DataFolder() + "/Torvane-journal.db").c_str(), 0755);
    ASSERT_TRUE(StartTorvane());
    source.start(QString::fromStdString(ToolPath("mylaps-sim")),
                 {"--port", QString::number(myLapsPort), "--count", "3", "--wait-acks", "1500",
                  "--ack-timeout", "0", "--quiet"});
    ASSERT_TRUE(source.waitForFinished(20000));
    const std::string summary = source.readAll().toStdString();
    EXPECT_EQ(source.exitCode(), 1) << summary;
    EXPECT_NE(summary.find("acknowledged 0,"), std::string::npos) << summary;
    EXPECT_TRUE(torvane.WaitForOutput("$$$ Le journal des passages " + torvane.DataFolder() +
                                      "/Torvane-journal.db ne peut pas être ouvert"));
    // Said once, not once per message: the passings wait at their source.
    EXPECT_EQ(Count(torvane.Output(), "ne peut pas être ouvert"), 1u);
    torvane.Write("quit\n");
    EXPECT_TRUE(torvane.WaitForExit());
}

// What the journal holds can be sent again on purpose, and written out as CSV.
TEST_F(DeliveryPromiseTest, ReplayAndExportWorkFromTheTerminal) {
    ASSERT_TRUE(host.Start(HostLog(), "", hostPort));
    WriteWholeFile(PassingsPath(), PassingsFile(10));
    ASSERT_TRUE(StartTorvane());
    StartSource();
    WaitForTheSource();
    ASSERT_EQ(WaitForDetections(10).size(), 10u);

    const std::string csv = torvane.DataFolder() + "/all passings.csv";
    torvane.Write("export " + csv + "\n");
    EXPECT_TRUE(
        torvane.WaitForOutput("+++ Journal des passages exporté : 10 détections dans " + csv));
    const std::string exported = ReadWholeFile(csv);
    EXPECT_EQ(Count(exported, "\r\n"), 11u) << exported;
    EXPECT_EQ(exported.rfind("received,source,record,chip,bib,race_time,sent\r\n", 0), 0u);
    EXPECT_NE(exported.find(",Loop1,C000007"), std::string::npos) << exported;

    torvane.Write("replay 00:00 47:59\n");
    EXPECT_TRUE(torvane.WaitForOutput(
        "+++ Rejeu : 10 détections reçues de 00:00 à 47:59 remises en file pour Ostrak Pro"));
    const std::vector<int> chips = WaitForDetections(20);
    ASSERT_EQ(chips.size(), 20u);
    EXPECT_EQ(std::vector<int>(chips.begin() + 10, chips.end()),
              std::vector<int>(chips.begin(), chips.begin() + 10));
    torvane.Write("replay 10:61\n");
    EXPECT_TRUE(torvane.WaitForOutput("Usage : replay HH:MM[:SS] [HH:MM[:SS]]"));
    torvane.Write("quit\n");
    EXPECT_TRUE(torvane.WaitForExit());
}

// Every way a run can end, tried as an operator would, counted at a host of the test's own:
// each passing the source saw acknowledged reaches the host once. A host that dies with lines
// unread gets again those of its last ten seconds, and nothing is lost.
class OnceOnlyTest : public DeliveryPromiseTest {
protected:
public:
    // Settings with a stall limit of one second instead of thirty.
    void WriteSettings(bool flowOpen, int port) {
        torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(myLapsPort) +
                         "\n[Torvane]\nBTorvHaltedAtStartup=" + (flowOpen ? "NO" : "YES") +
                         "\n[Ostrak]\nHost=127.0.0.1\nPort=" + std::to_string(port) +
                         "\nStallSeconds=1\n");
    }
    void StartWith(bool flowOpen = true) {
        WriteSettings(flowOpen, hostPort);
        ASSERT_TRUE(StartTorvane());
    }
    void StopBy(int signalNumber) {
        torvane.Signal(signalNumber);
        ASSERT_TRUE(torvane.WaitForExit(20000));
    }
    bool WaitForHost(std::size_t count, int timeoutMs = 40000) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (counting.DetectionCount() < count) {
            if (elapsed.elapsed() > timeoutMs) return false;
            QThread::msleep(20);
        }
        return true;
    }
    void Quit() {
        torvane.Write("quit\n");
        ASSERT_TRUE(torvane.WaitForExit(20000));
    }
    // Lost and doubled passings at the host, once it has had time for all of them.
    std::pair<int, int> LostAndDoubled() {
        WaitForHost(kPassings);
        QThread::msleep(300);
        const auto seen = counting.Detections();
        int lost = 0, doubled = 0;
        for (int n = 1; n <= kPassings; ++n) {
            const auto it = seen.find(Chip(n));
            const int times = it == seen.end() ? 0 : it->second;
            lost += times == 0 ? 1 : 0;
            doubled += times > 1 ? times - 1 : 0;
        }
        return {lost, doubled};
    }

    CountingHost counting{hostPort};
};

struct Situation {
    const char* name;
    std::function<void(OnceOnlyTest&)> run;
    int allowedDoubles;  // the lines of a host's last ten seconds, when it died with them unread
};

void PrintTo(const Situation& s, std::ostream* out) {
    *out << s.name;
}

class OnceOnlySituations : public OnceOnlyTest, public ::testing::WithParamInterface<Situation> {};

// A socket that holds a port, as another program would.
int HoldPort(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 4);
    return fd;
}

const Situation kSituations[] = {
    {"QuitMidStreamThenRestart",
     [](OnceOnlyTest& t) {
         t.StartWith();
         t.StartSource();
         ASSERT_TRUE(t.WaitForAcknowledgements(20));
         t.Quit();
         ASSERT_TRUE(t.StartTorvane());
         t.WaitForTheSource();
     },
     0},
    {"ThreeStopsBySignalMidStream",
     [](OnceOnlyTest& t) {
         t.StartWith();
         t.StartSource();
         std::size_t acknowledged = 0;
         for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
             ASSERT_TRUE(t.WaitForAcknowledgements(acknowledged += 15));
             t.StopBy(signalNumber);
             ASSERT_TRUE(t.StartTorvane());
         }
         t.WaitForTheSource();
     },
     0},
    {"HostStopsReadingPastTheStallLimit",
     [](OnceOnlyTest& t) {
         t.StartWith();
         t.StartSource();
         ASSERT_TRUE(t.WaitForAcknowledgements(10));
         t.counting.StopReading();
         EXPECT_TRUE(t.torvane.WaitForLog("$$$ Ostrak Pro ne prend plus rien depuis 1 s", 20000));
         t.counting.ReadAgain();
         t.WaitForTheSource();
     },
     0},
    {"JournalHeldByAnotherProgramAtStart",
     [](OnceOnlyTest& t) {
         sqlite3* other = nullptr;
         sqlite3_open((t.torvane.DataFolder() + "/Torvane-journal.db").c_str(), &other);
         sqlite3_exec(other, "CREATE TABLE held(x); BEGIN EXCLUSIVE; INSERT INTO held VALUES(1)",
                      nullptr, nullptr, nullptr);
         t.StartWith();
         t.StartSource();
         EXPECT_TRUE(t.torvane.WaitForLog("ne peut pas être ouvert"));
         QThread::msleep(1000);
         sqlite3_close(other);
         t.WaitForTheSource();
     },
     0},
    {"FlowClosedThenOpenedAndResent",
     [](OnceOnlyTest& t) {
         t.StartWith(false);
         t.StartSource();
         t.WaitForTheSource();
         EXPECT_EQ(t.counting.DetectionCount(), 0u);
         t.torvane.Write("open\n");
         t.StartSource();
         t.WaitForTheSource();
         t.StartSource();  // and once more: now it is a resend
         t.WaitForTheSource();
     },
     0},
    {"HostDiesWithLinesUnread",
     [](OnceOnlyTest& t) {
         t.StartWith();
         t.StartSource();
         ASSERT_TRUE(t.WaitForAcknowledgements(10));
         t.counting.StopReading();
         QThread::msleep(300);
         t.counting.DieWithUnreadLines();
         EXPECT_TRUE(
             t.torvane.WaitForLog(" détections renvoyées : Ostrak Pro s'est arrêté sans les lire"));
         t.counting.ReadAgain();
         t.WaitForTheSource();
     },
     400 * 10},
    {"JournalDiskFillsThenKilledAndRestarted",
     [](OnceOnlyTest& t) {
         // Each file of the run may grow to 200 KB: the journal's log fills it mid-stream.
         t.torvane.Process().setChildProcessModifier([] {
             const rlimit full{200 * 1024, 200 * 1024};
             ::setrlimit(RLIMIT_FSIZE, &full);
             ::signal(SIGXFSZ, SIG_IGN);
         });
         t.StartWith();
         t.StartSource();
         EXPECT_TRUE(t.torvane.WaitForLog("$$$ Écriture du journal des passages impossible ("));
         // The lines sent meanwhile are marked nowhere but in the note beside the journal.
         QThread::msleep(500);
         t.StopBy(SIGKILL);
         t.torvane.Process().setChildProcessModifier({});
         ASSERT_TRUE(t.StartTorvane());
         t.WaitForTheSource();
     },
     0},
    {"PortTakenWhileLinesWait",
     [](OnceOnlyTest& t) {
         // The host is away while the passings come: they wait in the journal.
         t.WriteSettings(true, FreePort());
         ASSERT_TRUE(t.StartTorvane());
         t.StartSource();
         t.WaitForTheSource();
         t.Quit();
         t.WriteSettings(true, t.hostPort);
         const int held = HoldPort(t.myLapsPort);
         for (int start = 0; start < 5; ++start) {
             ASSERT_TRUE(t.torvane.Start({"--headless"}));
             ASSERT_TRUE(t.torvane.WaitForExit(20000));
         }
         ::close(held);
         ASSERT_TRUE(t.StartTorvane());
     },
     0},
};

TEST_P(OnceOnlySituations, EachAcknowledgedPassingReachesTheHostOnce) {
    GetParam().run(*this);
    if (HasFatalFailure()) return;
    const auto [lost, doubled] = LostAndDoubled();
    std::printf("%s: %d lost, %d doubled\n", GetParam().name, lost, doubled);
    EXPECT_EQ(lost, 0) << torvane.Output();
    EXPECT_LE(doubled, GetParam().allowedDoubles);
    Quit();
}

INSTANTIATE_TEST_SUITE_P(Endings, OnceOnlySituations, ::testing::ValuesIn(kSituations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvane::test
