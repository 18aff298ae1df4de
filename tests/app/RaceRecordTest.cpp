// The journal as the race's record, used as an operator would: passings of chips missing from
// the table are sent again with their bibs once the table has them, and a new race keeps the
// journal of the last one, which can still be exported.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <memory>
#include <regex>

#include "CountingHost.h"
#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

bool Exists(const std::string& path) {
    struct stat file {};
    return ::stat(path.c_str(), &file) == 0;
}

class RaceRecordTest : public ::testing::Test {
public:
    void SetUp() override {
        torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(myLapsPort) +
                         "\n[Torvane]\nBTorvHaltedAtStartup=NO\n[Ostrak]\nHost=127.0.0.1\nPort=" +
                         std::to_string(hostPort) + "\n");
    }
    void TearDown() override {
        if (torvane.Process().state() != QProcess::NotRunning) {
            torvane.Write("quit\n");
            torvane.WaitForExit(20000);
        }
    }
    std::string Data(const std::string& name) const { return torvane.DataFolder() + "/" + name; }
    void StartTorvane() {
        ASSERT_TRUE(torvane.Start({"--headless"}));
        ASSERT_TRUE(torvane.WaitForOutput("Démarrage Torvane - Version"));
    }
    // Sends the passings ("CHIP TIME" lines) and waits until each was acknowledged.
    void SendPassings(const std::string& passings) {
        WriteWholeFile(Data("passings.txt"), passings);
        QProcess source;
        source.setProcessChannelMode(QProcess::MergedChannels);
        source.start(
            QString::fromStdString(ToolPath("mylaps-sim")),
            {"--port", QString::number(myLapsPort), "--from-file",
             QString::fromStdString(Data("passings.txt")), "--wait-acks", "20000", "--quiet"});
        ASSERT_TRUE(source.waitForFinished(30000));
        ASSERT_EQ(source.exitCode(), 0) << source.readAll().toStdString();
    }
    // Waits until the host has read `count` detections in all.
    bool WaitForHost(std::size_t count) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (host->DetectionCount() < count) {
            if (elapsed.elapsed() > 20000) return false;
            QThread::msleep(20);
        }
        return true;
    }
    // Types the command until the output holds `text` (what waits for the host is marked sent
    // shortly after the host has it).
    bool RepeatUntil(const std::string& command, const std::string& text) {
        for (int attempt = 0; attempt < 40; ++attempt) {
            torvane.Write(command + "\n");
            if (torvane.WaitForOutput(text, 250)) return true;
        }
        return false;
    }

    int myLapsPort = FreePort();
    int hostPort = FreePort();
    TorvaneProcess torvane;
    std::unique_ptr<CountingHost> host;
};

// Chips missing from the table go to the host as their codes; once the table has them, each of
// those passings is sent once with its bib, and never again.
TEST_F(RaceRecordTest, UnknownChipsAreSentAgainWithTheirBibsOnce) {
    host = std::make_unique<CountingHost>(hostPort);
    WriteWholeFile(Data("ChipTable.dtb"), "C000001 101\n");
    StartTorvane();
    SendPassings(
        "C000001 10:00:01.100\nC000002 10:00:02.200\nC000003 10:00:03.300\n"
        "C000002 10:05:02.200\n");
    ASSERT_TRUE(WaitForHost(4)) << ReadWholeFile(torvane.LogPath());
    EXPECT_EQ(host->Detections(),
              (std::map<std::string, int>{{"101", 1}, {"C000002", 2}, {"C000003", 1}}));

    WriteWholeFile(Data("ChipTable.dtb"), "C000001 101\nC000002 102\n");
    torvane.Write("reload\n");
    EXPECT_TRUE(torvane.WaitForOutput(
        "+++ 2 détections de puces maintenant dans la table : resend-unknown les envoie"));
    torvane.Write("resend-unknown\n");
    EXPECT_TRUE(torvane.WaitForOutput(
        "+++ 2 détections de puces inconnues envoyées à nouveau avec leur dossard"));
    ASSERT_TRUE(WaitForHost(6));

    torvane.Write("reload\nresend-unknown\n");
    EXPECT_TRUE(torvane.WaitForOutput(
        "+++ 0 détections de puces inconnues envoyées à nouveau avec leur dossard"));
    QThread::msleep(300);
    EXPECT_EQ(host->Detections(),
              (std::map<std::string, int>{{"101", 1}, {"102", 2}, {"C000002", 2}, {"C000003", 1}}));
    const std::string output = torvane.Output();
    EXPECT_EQ(output.find("+++ 2 détections de puces maintenant"),
              output.rfind("+++ 2 détections de puces maintenant"))
        << "the second reload found passings to send again";
}

// A new race is refused while detections wait for the host; once they have gone, the journal
// is kept under the time of its first passing, a new one starts, and the kept one is exported
// without being written to.
TEST_F(RaceRecordTest, ANewRaceWaitsForTheHostThenKeepsTheJournal) {
    StartTorvane();
    SendPassings("C000001 10:00:01.100\nC000002 10:00:02.200\nC000003 10:00:03.300\n");
    torvane.Write("new-race\n");
    EXPECT_TRUE(torvane.WaitForOutput(
        "$$$ Nouvelle course refusée : 3 détections attendent encore Ostrak Pro"));
    EXPECT_TRUE(Exists(Data("Torvane-journal.db")));

    // At the next start the waiting lines go to the host first.
    torvane.Write("quit\n");
    ASSERT_TRUE(torvane.WaitForExit(20000));
    host = std::make_unique<CountingHost>(hostPort);
    StartTorvane();
    ASSERT_TRUE(WaitForHost(3));
    ASSERT_TRUE(RepeatUntil("new-race",
                            "+++ Nouvelle course : le journal de la course "
                            "précédente est gardé sous "));
    std::smatch kept;
    const std::string output = torvane.Output();
    ASSERT_TRUE(std::regex_search(
        output, kept, std::regex("gardé sous (.*/Journals/Journal-\\d{8}-\\d{6}\\.db)\n")));
    const std::string keptPath = kept[1];
    EXPECT_FALSE(Exists(keptPath + "-wal"));
    torvane.Write("status\n");
    EXPECT_TRUE(torvane.WaitForOutput(", 0 passages, "));

    const std::string before = ReadWholeFile(keptPath);
    torvane.Write("export " + Data("old race.csv") + " --journal " + keptPath + "\n");
    EXPECT_TRUE(torvane.WaitForOutput("+++ Journal des passages exporté : 3 détections dans " +
                                      Data("old race.csv")));
    EXPECT_NE(ReadWholeFile(Data("old race.csv")).find(",Loop1,C000003"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(keptPath), before);
    EXPECT_FALSE(Exists(keptPath + "-wal"));
    EXPECT_FALSE(Exists(keptPath + "-shm"));
}

}  // namespace
}  // namespace torvane::test
