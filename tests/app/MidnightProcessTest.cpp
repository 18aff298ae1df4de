#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <ostream>
#include <regex>
#include <string>

#include "TorvaneProcess.h"
#include "support/TestName.h"

// The headless program runs under libfaketime from a few seconds before a local midnight (a
// clock-change night among them): passings dated on both sides of midnight reach the host with
// race times that keep counting past 24 hours.
namespace torvane::test {
namespace {

// libfaketime's thread-safe build, from Debian's faketime package.
std::string FakeTimeLibrary() {
    for (const QString& folder : QDir("/usr/lib").entryList({"*-linux-gnu*"}, QDir::Dirs)) {
        const QString path = "/usr/lib/" + folder + "/faketime/libfaketimeMT.so.1";
        if (QFile::exists(path)) return path.toStdString();
    }
    return {};
}

bool WaitForFileText(const std::string& path, const std::string& text, int timeoutMs = 15000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (ReadWholeFile(path).find(text) == std::string::npos) {
        if (elapsed.elapsed() > timeoutMs) return false;
        QThread::msleep(20);
    }
    return true;
}

// The host simulator on a port of its own choosing, logging what it receives.
class Host {
public:
    ~Host() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    bool Start(const std::string& logPath) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QString::fromStdString(ToolPath("ostrak-sim")),
                       {"--port", "0", "--log", QString::fromStdString(logPath)});
        if (!process_.waitForStarted(5000)) return false;
        std::string output;
        while (output.find('\n') == std::string::npos && process_.waitForReadyRead(5000))
            output += process_.readAll().toStdString();
        std::smatch match;
        if (!std::regex_search(output, match, std::regex("listening on port (\\d+)"))) return false;
        port_ = std::stoi(match[1]);
        return true;
    }
    int Port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};

struct MidnightCase {
    const char* zone;
    const char* fakeStart;  // local time, a few seconds before midnight
    const char* day0;       // box dates YYMMDD of the evening and of the morning after
    const char* day1;
    const char* firstRaceDay;
};

void PrintTo(const MidnightCase& c, std::ostream* out) {
    *out << c.zone << " " << c.fakeStart;
}

class MidnightProcessTest : public ::testing::TestWithParam<MidnightCase> {
protected:
    int myLapsPort = FreePort();
    TorvaneProcess torvane;
};

TEST_P(MidnightProcessTest, PassingsOfBothDaysReachTheHostWithTheirRaceTimes) {
    const MidnightCase& c = GetParam();
    const std::string library = FakeTimeLibrary();
    if (library.empty()) GTEST_SKIP() << "libfaketime is not installed (Debian faketime)";
    if (!QFile::exists(QString("/usr/share/zoneinfo/") + c.zone)) GTEST_SKIP() << "no " << c.zone;

    const std::string dir = torvane.DataFolder();
    WriteWholeFile(dir + "/ChipTable.dtb", "KV00001 101\nKV00002 102\n");
    Host host;
    ASSERT_TRUE(host.Start(dir + "/host.log"));
    torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(myLapsPort) +
                     "\n[Torvane]\nBTorvHaltedAtStartup=NO\n[Ostrak]\nHost=127.0.0.1\nPort=" +
                     std::to_string(host.Port()) + "\n");
    QProcessEnvironment environment = torvane.Environment();
    environment.insert("TZ", c.zone);
    PreloadLibrary(environment, library);
    environment.insert("FAKETIME", QString("@") + c.fakeStart);
    environment.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    torvane.Process().setProcessEnvironment(environment);
    ASSERT_TRUE(torvane.Start({"--headless"}));
    ASSERT_TRUE(torvane.WaitForOutput("Démarrage Torvane")) << torvane.Output();

    // One source, connected across midnight: a passing every four seconds, the first before
    // midnight, the others after it.
    const std::string passings = dir + "/passings.txt";
    WriteWholeFile(passings, std::string("KV00001 23:59:58.120 ") + c.day0 +
                                 "\nKV00002 00:00:02.340 " + c.day1 + "\nKV00003 00:10:06.000 " +
                                 c.day1 + "\n");
    QProcess source;
    source.setProcessChannelMode(QProcess::MergedChannels);
    source.start(QString::fromStdString(ToolPath("mylaps-sim")),
                 {"--port", QString::number(myLapsPort), "--from-file",
                  QString::fromStdString(passings), "--rate", "0.25"});
    ASSERT_TRUE(source.waitForFinished(30000));
    EXPECT_EQ(source.exitCode(), 0) << source.readAll().toStdString();

    const std::string hostLog = dir + "/host.log";
    for (const char* line : {"AddDagClock(1\tLoop1\t101\t1\t23:59:58.12)",
                             "AddDagClock(1\tLoop1\t102\t1\t24:00:02.34)",
                             "AddDagClock(1\tLoop1\tKV00003\t1\t24:10:06.00)"}) {
        EXPECT_TRUE(WaitForFileText(hostLog, line)) << line << "\n" << ReadWholeFile(hostLog);
    }
    // The race-day timer has seen midnight come.
    EXPECT_TRUE(torvane.WaitForOutput("Jour de course : temps +24h")) << torvane.Output();
    EXPECT_EQ(torvane.Output().find("Incompatibilité de date"), std::string::npos);
    torvane.Write("status\n");
    EXPECT_TRUE(torvane.WaitForOutput(std::string("Jours ajoutés : 1 (premier jour ") +
                                      c.firstRaceDay + ")"))
        << torvane.Output();
    torvane.Write("quit\n");
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_NE(ReadWholeFile(torvane.IniPath()).find("TDaysToAdd=1"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Nights, MidnightProcessTest,
    ::testing::Values(
        // Before the 23-hour day of 29 March 2026 in Paris and of 8 March 2026 in New York.
        MidnightCase{"Europe/Paris", "2026-03-28 23:59:57", "260328", "260329", "20260328"},
        MidnightCase{"America/New_York", "2026-03-07 23:59:57", "260307", "260308", "20260307"},
        // A zone without summer time, at the turn of the year.
        MidnightCase{"Asia/Tokyo", "2026-12-31 23:59:57", "261231", "270101", "20261231"}),
    PrintedName());

}  // namespace
}  // namespace torvane::test
