// Peers that misbehave never stall the program, hostile bytes never reach the host's command
// line, and only the peers the settings allow are served.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/socket.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>

#include "HostSimulator.h"
#include "TorvaneProcess.h"
#include "support/LoopbackSockets.h"

namespace torvane::test {
namespace {

// The program's resident memory, in MB.
double ResidentMegabytes(qint64 pid) {
    const std::string status = ReadWholeFile("/proc/" + std::to_string(pid) + "/status");
    const auto at = status.find("VmRSS:");
    if (at == std::string::npos) return 0;
    return std::stod(status.substr(at + 6)) / 1024.0;
}

std::string TodayYYMMDD() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[8];
    std::strftime(text, sizeof text, "%y%m%d", &tm);
    return text;
}

// Adds `count` passings, each with its host line marked sent, to a journal that the program
// made; false with SQLite's reason on stderr.
bool FillJournal(const std::string& path, int count) {
    sqlite3* db = nullptr;
    const std::string sql =
        "BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(count) +
        ") INSERT INTO passing(id, kind, source, record, token, received_ms, utc_offset, chip, "
        "bib, race_time, box_date, record_key, time_key) SELECT i, 0, 'Old', printf('R%07d', i), "
        "'1', 1796733000000 + i, 3600, printf('R%07d', i), i, '12:00:00.00', '20261208', i, "
        "'old' FROM n; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(count) +
        ") INSERT INTO host_line(seq, passing_id, line, sent_ms) SELECT i, i, "
        "'AddDagClock(1 Old ' || i || ' 1 12:00:00.00)', 1796733000500 + i FROM n; COMMIT;";
    char* error = nullptr;
    const bool filled = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
    if (!filled) std::fprintf(stderr, "%s\n", error ? error : sqlite3_errmsg(db));
    sqlite3_free(error);
    sqlite3_close(db);
    return filled;
}

// The longest wait for an acknowledgement in mylaps-sim's timing log ("token sent ack", in ns).
long LongestAcknowledgementMs(const std::string& timingLog, std::size_t& acknowledged) {
    std::istringstream lines(timingLog);
    std::string token;
    long long sent = 0, ack = 0, longest = 0;
    acknowledged = 0;
    while (lines >> token >> sent >> ack) {
        longest = std::max(longest, ack - sent);
        ++acknowledged;
    }
    return static_cast<long>(longest / 1000000);
}

class NeverStallTest : public ::testing::Test {
protected:
    void StartTorvane(const std::string& extraIni = "") {
        torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(myLapsPort) + "\n" + extraIni +
                         "[Torvane]\nBTorvHaltedAtStartup=NO\n[Ostrak]\nHost=127.0.0.1\nPort=" +
                         std::to_string(hostPort) + "\n");
        const std::size_t starts = Occurrences(torvane.Output(), "Démarrage Torvane - Version");
        ASSERT_TRUE(torvane.Start({"--headless"}));
        QElapsedTimer elapsed;
        elapsed.start();
        while (Occurrences(torvane.Output(), "Démarrage Torvane - Version") == starts &&
               elapsed.elapsed() < 10000) {
            torvane.Process().waitForReadyRead(20);
        }
    }
    void TearDown() override {
        source.kill();
        source.waitForFinished(5000);
        if (torvane.Process().state() == QProcess::NotRunning) return;
        torvane.Write("quit\n");
        torvane.WaitForExit();
    }
    void StartSource(const QStringList& arguments) {
        source.setProcessChannelMode(QProcess::MergedChannels);
        source.start(QString::fromStdString(ToolPath("mylaps-sim")),
                     QStringList{"--port", QString::number(myLapsPort), "--quiet"} + arguments);
        ASSERT_TRUE(source.waitForStarted(5000));
    }
    // How long the program takes to answer `status`.
    long StatusDelayMs() {
        const std::size_t before = Occurrences(torvane.Output(), "Détections en attente : ");
        QElapsedTimer elapsed;
        elapsed.start();
        torvane.Write("status\n");
        while (Occurrences(torvane.Output(), "Détections en attente : ") == before) {
            if (elapsed.elapsed() > 10000) break;
            torvane.Process().waitForReadyRead(5);
        }
        return static_cast<long>(elapsed.elapsed());
    }
    static std::size_t Occurrences(const std::string& text, const std::string& needle) {
        std::size_t count = 0;
        for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++count;
        return count;
    }

    int myLapsPort = FreePort();
    int hostPort = FreePort();
    TorvaneProcess torvane;
    QProcess source;
};

// Ostrak Pro accepts the link but reads nothing: the sources are acknowledged all the same and
// the operator's commands are answered at once, while the detections wait for the host.
TEST_F(NeverStallTest, AHostThatStopsReadingStallsNothing) {
    SocketFd host = ListenOnLoopback(hostPort);
    const int small = 4096;
    ::setsockopt(host.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    StartTorvane();
    StartSource(
        {"--rate", "20000", "--count", "150000", "--per-store", "100", "--wait-acks", "60000"});
    SocketFd accepted = AcceptWithin(host.Get(), 10000);
    ASSERT_TRUE(accepted.IsOpen());

    long slowest = 0;
    int asked = 0;
    while (!source.waitForFinished(200)) {
        slowest = std::max(slowest, StatusDelayMs());
        ++asked;
    }
    const std::string summary = source.readAll().toStdString();
    EXPECT_EQ(source.exitCode(), 0) << summary;
    std::printf("host reading nothing: %d status commands, the slowest answered in %ld ms\n", asked,
                slowest);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // A checked build is several times slower: only the plain program's delays say something.
    EXPECT_LT(slowest, 1000);
#endif
    const std::string output = torvane.Output();
    const auto waiting = output.rfind("Détections en attente : ");
    ASSERT_NE(waiting, std::string::npos);
    EXPECT_GT(std::stol(output.substr(waiting + 25)), 0) << "nothing waits for the host";
}

// A source that sends but never reads its acknowledgements does not keep another from being
// served.
TEST_F(NeverStallTest, ASourceThatNeverReadsLeavesTheOthersServed) {
    HostSimulator hostSimulator;
    ASSERT_TRUE(hostSimulator.Start(torvane.DataFolder() + "/host.log", "", hostPort));
    StartTorvane();
    SocketFd deaf = NewTcpSocket();
    const int small = 1024;
    ::setsockopt(deaf.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(ConnectSocketToLoopback(deaf, myLapsPort));
    std::thread flooding([&] {
        std::string stores;
        for (int n = 1; n <= 20000; ++n) stores += "Deaf@Store@" + std::to_string(n) + "@$";
        SendBytes(deaf.Get(), stores);
    });
    StartSource({"--count", "50", "--rate", "500"});
    ASSERT_TRUE(source.waitForFinished(30000));
    EXPECT_EQ(source.exitCode(), 0) << source.readAll().toStdString();
    deaf.Close();
    flooding.join();
}

// A flood at full speed keeps the memory bounded, and what it took is given back after it.
TEST_F(NeverStallTest, AFloodKeepsMemoryBoundedAndGivesItBack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a checked build's memory is the checker's, not the program's";
#endif
    HostSimulator hostSimulator;
    ASSERT_TRUE(hostSimulator.Start(torvane.DataFolder() + "/host.log", "", hostPort));
    StartTorvane();
    QThread::msleep(500);
    const double idle = ResidentMegabytes(torvane.Pid());
    StartSource({"--backlog", "--count", "300000", "--per-store", "100", "--wait-acks", "60000"});
    double peak = idle;
    while (!source.waitForFinished(100)) {
        peak = std::max(peak, ResidentMegabytes(torvane.Pid()));
        torvane.Output();  // read as a terminal or the system journal would
    }
    EXPECT_EQ(source.exitCode(), 0) << source.readAll().toStdString();
    // Memory goes back once the work has been quiet for a while.
    double after = peak;
    for (int i = 0; i < 100 && after > idle + 20; ++i) {
        QThread::msleep(100);
        torvane.Output();
        after = ResidentMegabytes(torvane.Pid());
    }
    std::printf(
        "flood of 300000 passings: resident memory %.1f MB idle, %.1f MB at most, "
        "%.1f MB after\n",
        idle, peak, after);
    EXPECT_LT(peak, 150);
    EXPECT_LT(after, idle + 20);
}

// Control bytes in a chip code or a source name reach the host as "?", and the operator is
// told once per connection.
TEST_F(NeverStallTest, ControlBytesFromTheSourceReachTheHostAsQuestionMarks) {
    HostSimulator hostSimulator;
    const std::string hostLog = torvane.DataFolder() + "/host.log";
    ASSERT_TRUE(hostSimulator.Start(hostLog, "", hostPort));
    StartTorvane();
    SocketFd source = ConnectToLoopback(myLapsPort);
    const std::string padding(12, ' ');
    const std::string record = "AB\r\nXYZ10:00:00.000" + padding + TodayYYMMDD();
    ASSERT_TRUE(SendBytes(source.Get(), "Lo\top1@Store@" + record + "@1@$" + "Lo\top1@Store@" +
                                            "CD\x7f"
                                            "EFGH10:00:01.000" +
                                            padding + TodayYYMMDD() + "@2@$"));
    std::string acks;
    ASSERT_TRUE(ReceiveAtLeast(source.Get(), acks, 30));
    QElapsedTimer elapsed;
    elapsed.start();
    while (Occurrences(ReadWholeFile(hostLog), "AddDagClock(") < 2 && elapsed.elapsed() < 10000)
        QThread::msleep(20);
    const std::string received = ReadWholeFile(hostLog);
    EXPECT_NE(received.find("AddDagClock(1\tLo?op1\tAB??XYZ\t1\t10:00:00.00)"), std::string::npos)
        << received;
    EXPECT_NE(received.find("AddDagClock(1\tLo?op1\tCD?EFGH\t1\t10:00:01.00)"), std::string::npos)
        << received;
    EXPECT_TRUE(torvane.WaitForOutput("$$$ Une source MyLaps envoie des caractères de contrôle"));
    EXPECT_EQ(
        Occurrences(torvane.Output(), "$$$ Une source MyLaps envoie des caractères de contrôle"),
        1u);
}

// An export of a large journal runs beside a stream: it reads the journal on a thread of its
// own, so the source's acknowledgements keep coming.
TEST_F(NeverStallTest, AnExportOfALargeJournalLeavesTheAcknowledgementsFlowing) {
    constexpr int kJournaled = 400000;
    HostSimulator hostSimulator;
    ASSERT_TRUE(hostSimulator.Start(torvane.DataFolder() + "/host.log", "", hostPort));
    StartTorvane();  // makes the journal
    torvane.Write("quit\n");
    ASSERT_TRUE(torvane.WaitForExit());
    ASSERT_TRUE(FillJournal(torvane.DataFolder() + "/Torvane-journal.db", kJournaled));
    StartTorvane();
    const std::string timing = torvane.DataFolder() + "/timing.txt";
    StartSource({"--rate", "1000", "--count", "6000", "--wait-acks", "30000", "--timing-log",
                 QString::fromStdString(timing)});
    QThread::msleep(1000);
    const std::string csv = torvane.DataFolder() + "/journal.csv";
    QElapsedTimer exporting;
    exporting.start();
    torvane.Write("export " + csv + "\n");
    EXPECT_TRUE(torvane.WaitForOutput("+++ Journal des passages exporté : ", 60000));
    const long exportMs = static_cast<long>(exporting.elapsed());
    ASSERT_TRUE(source.waitForFinished(60000));
    EXPECT_EQ(source.exitCode(), 0) << source.readAll().toStdString();

    std::size_t acknowledged = 0;
    const long longest = LongestAcknowledgementMs(ReadWholeFile(timing), acknowledged);
    EXPECT_EQ(acknowledged, 6000u);
    const std::string exported = ReadWholeFile(csv);
    EXPECT_GT(Occurrences(exported, "\r\n"), static_cast<std::size_t>(kJournaled));
    std::printf(
        "export of a journal of %d passings beside 1000 passings/s: %ld ms, the longest "
        "acknowledgement wait %ld ms\n",
        kJournaled, exportMs, longest);
}

TEST_F(NeverStallTest, OnlyAllowedPeersAndNoMoreThanTheMostAreServed) {
    StartTorvane("AllowFrom=10.0.0.0/8\n");
    SocketFd refused = ConnectToLoopback(myLapsPort);
    EXPECT_TRUE(WaitForPeerClose(refused.Get()));
    EXPECT_TRUE(torvane.WaitForOutput(
        "$$$ Connexion MyLaps de 127.0.0.1 refusée : adresse non autorisée ([MyLaps] AllowFrom)"));
    EXPECT_EQ(torvane.Output().find("+++ Connexion MyLaps"), std::string::npos);
    torvane.Write("quit\n");
    ASSERT_TRUE(torvane.WaitForExit());

    StartTorvane("AllowFrom=127.0.0.1\nMaxSources=1\n");
    SocketFd first = ConnectToLoopback(myLapsPort);
    ASSERT_TRUE(torvane.WaitForOutput("+++ Connexion MyLaps"));
    SocketFd second = ConnectToLoopback(myLapsPort);
    EXPECT_TRUE(WaitForPeerClose(second.Get()));
    EXPECT_TRUE(
        torvane.WaitForOutput("$$$ Connexion MyLaps de 127.0.0.1 refusée : 1 sources sont "
                              "déjà connectées ([MyLaps] MaxSources)"));
    const std::string ini = ReadWholeFile(torvane.IniPath());
    EXPECT_NE(ini.find("Listen="), std::string::npos) << ini;
    EXPECT_NE(ini.find("MaxSources=1"), std::string::npos) << ini;
}

}  // namespace
}  // namespace torvane::test
