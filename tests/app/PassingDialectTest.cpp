// The real program, headless, between mylaps-sim speaking the Passing dialect and ostrak-sim.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <string>
#include <vector>

#include "HostSimulator.h"
#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

std::size_t Occurrences(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

// Records without a date are of the day they are received; the last one has no chip.
const char* const kPassings =
    "c=41AA06C|t=23:00:17.105920|ct=UH\n"
    "KV00001 10:00:00.5\n"
    "E200001D5B0C0123456789AB 10:00:01\n"
    "c=2|t=10:00:02.000|re=0\n"
    "KV00002 10:00:03.250\n"
    "t=10:00:04.000|l=3\n";

// Every usable passing above, as the host must receive it: exactly once each.
const std::vector<std::string> kDetections = {
    "AddDagClock(1\t10KM\t41AA06C\t1\t23:00:17.10)",
    "AddDagClock(1\t10KM\t101\t1\t10:00:00.50)",
    "AddDagClock(1\t10KM\tE200001D5B0C0123456789AB\t1\t10:00:01.00)",
    "AddDagClock(1\t10KM\t2\t1\t10:00:02.00)",
    "AddDagClock(1\t10KM\t102\t1\t10:00:03.25)",
};

class PassingDialectTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string dir = torvane.DataFolder();
        WriteWholeFile(dir + "/ChipTable.dtb", "KV00001 101\nKV00002 102\n");
        WriteWholeFile(dir + "/runners.txt",
                       "101;MARTIN;Anne;F;SEF;Lyon\n102;DURAND;Paul;M;SEM;Caen\n");
        WriteWholeFile(dir + "/passings.txt", kPassings);
        ASSERT_TRUE(host.Start(HostLog(), dir + "/runners.txt"));
        torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(myLapsPort) +
                         "\n[Torvane]\nBTorvHaltedAtStartup=NO\n[Ostrak]\nHost=127.0.0.1\nPort=" +
                         std::to_string(host.Port()) + "\n");
        ASSERT_TRUE(started = torvane.Start({"--headless"}));
        ASSERT_TRUE(torvane.WaitForOutput("+++ Table de correspondance chargée (2 entrées)."))
            << torvane.Output();
    }
    void TearDown() override {
        if (!started) return;
        torvane.Write("quit\n");
        EXPECT_TRUE(torvane.WaitForExit());
    }

    std::string HostLog() const { return torvane.DataFolder() + "/host.log"; }

    // Runs the source to its end; its summary line, or a failure.
    ::testing::AssertionResult RunSource(const QStringList& extraArguments, std::string& summary) {
        QProcess source;
        source.start(
            QString::fromStdString(ToolPath("mylaps-sim")),
            QStringList{"--port", QString::number(myLapsPort), "--dialect", "passing", "--source",
                        "10KM", "--from-file",
                        QString::fromStdString(torvane.DataFolder() + "/passings.txt"),
                        "--per-store", "3", "--reconnect", "--reconnect-delay", "100", "--quiet"} +
                extraArguments);
        if (!source.waitForFinished(30000)) return ::testing::AssertionFailure() << "still runs";
        summary = source.readAllStandardOutput().toStdString();
        if (source.exitCode() != 0)
            return ::testing::AssertionFailure() << "exit " << source.exitCode() << ": " << summary
                                                 << source.readAllStandardError().toStdString();
        return ::testing::AssertionSuccess();
    }

    // The host's log once it holds `count` detections (or the time is up).
    std::string HostLogWithDetections(std::size_t count) const {
        QElapsedTimer elapsed;
        elapsed.start();
        std::string log = ReadWholeFile(HostLog());
        while (Occurrences(log, "AddDagClock(") < count && elapsed.elapsed() < 10000) {
            QThread::msleep(20);
            log = ReadWholeFile(HostLog());
        }
        return log;
    }

    void ExpectEveryDetectionOnceAtTheHost() {
        const std::string log = HostLogWithDetections(kDetections.size());
        for (const std::string& detection : kDetections)
            EXPECT_EQ(Occurrences(log, " " + detection + "\n"), 1u) << detection << "\n" << log;
        EXPECT_EQ(Occurrences(log, "AddDagClock("), kDetections.size()) << log;
    }

    int myLapsPort = FreePort();
    TorvaneProcess torvane;
    HostSimulator host;
    bool started = false;
};

TEST_F(PassingDialectTest, EveryPassingReachesTheHostOnceAndTheRecordWithoutChipIsReported) {
    std::string summary;
    ASSERT_TRUE(RunSource({}, summary));
    EXPECT_EQ(summary.rfind("summary: sent 2 Passing messages (6 passings), acknowledged 2, "
                            "resent 0, unacknowledged 0, elapsed ",
                            0),
              0u)
        << summary;
    ExpectEveryDetectionOnceAtTheHost();
    EXPECT_TRUE(torvane.WaitForOutput("$$$ Passage MyLaps sans puce ignoré : [t=10:00:04.000|l=3]"))
        << torvane.Output();
    EXPECT_TRUE(torvane.WaitForLog("<<< MYLAPS: 10KM   Passing   41AA06C   23:00:17.105920"));
    EXPECT_TRUE(torvane.WaitForOutput("RES    101 MARTIN Anne"));
}

// The source takes every first acknowledgement as lost and sends each message again: the copies
// are acknowledged, and the host still gets each passing once.
TEST_F(PassingDialectTest, AForcedResendStillGivesEachPassingOnceAtTheHost) {
    std::string summary;
    ASSERT_TRUE(RunSource({"--ignore-first-ack", "all", "--ack-timeout", "300"}, summary));
    EXPECT_NE(summary.find("resent 2, "), std::string::npos) << summary;
    ExpectEveryDetectionOnceAtTheHost();
    EXPECT_TRUE(torvane.WaitForLog("<<< MYLAPS: 10KM renvoie un passage déjà reçu, non transmis"));
}

}  // namespace
}  // namespace torvane::test
