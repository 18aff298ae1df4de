#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QDate>
#include <QDir>
#include <QProcess>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

const char* const kStartLine = "Démarrage Torvane - Version 1.70b - 24 jun 2o26";

std::vector<std::string> SplitLines(const std::string& text, const std::string& end) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at = text.find(end); at != std::string::npos; at = text.find(end, start)) {
        lines.push_back(text.substr(start, at - start));
        start = at + end.size();
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string EscapedForRegex(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// A damaged settings file at start-up: the program says so, keeps the file for the operator and
// runs on the defaults (those include the MyLaps port 3097, which this test does not use).
TEST(DamagedSettingsTest, IsKeptAsideAtStartUpAndTheProgramRunsOnTheDefaults) {
    TorvaneProcess torvane;
    const std::string damaged = "[Ostrak]\nHost=timing-pc\n" + std::string(4, '\0') +
                                "\n[Torvane]\nBTorvHaltedAtStartup=NO\n";
    torvane.WriteIni(damaged);
    ASSERT_TRUE(torvane.Start({"--headless"}));
    ASSERT_TRUE(torvane.WaitForOutput(kStartLine)) << torvane.Output();
    const std::string notice =
        "$$$ Fichier de réglages illisible (octet NUL ligne 3) : conservé sous " +
        torvane.IniPath() + ".bad-";
    ASSERT_TRUE(torvane.WaitForOutput(notice)) << torvane.Output();
    torvane.Write("status\n");
    // The flow is closed: that default came back with the file.
    EXPECT_TRUE(torvane.WaitForOutput("Flux des détections : fermé"));
    torvane.Write("quit\n");
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_EQ(torvane.ExitCode(), 0);

    const QStringList kept = QDir(QString::fromStdString(torvane.DataFolder()))
                                 .entryList({"Torvane.ini.bad-*"}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_TRUE(
        std::regex_match(kept[0].toStdString(), std::regex(R"(Torvane\.ini\.bad-\d{8}-\d{6})")));
    EXPECT_EQ(ReadWholeFile(torvane.DataFolder() + "/" + kept[0].toStdString()), damaged);
    const std::string fresh = ReadWholeFile(torvane.IniPath());
    EXPECT_NE(fresh.find("BTorvHaltedAtStartup=YES"), std::string::npos) << fresh;
    EXPECT_EQ(fresh.find("timing-pc"), std::string::npos);
    EXPECT_NE(ReadWholeFile(torvane.LogPath()).find(notice), std::string::npos);
}

// The log file fails from the first line of the run, before any window exists: the operator
// sees it once, with the reason, and the program runs on.
TEST(UnwritableLogFileTest, IsShownOnceFromTheStartOfTheRun) {
    TorvaneProcess torvane;
    torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(FreePort()) + "\n");
    QDir().mkpath(QString::fromStdString(torvane.LogPath()));
    ASSERT_TRUE(torvane.Start({"--headless"}));
    ASSERT_TRUE(torvane.WaitForOutput(kStartLine)) << torvane.Output();
    const std::string notice = "$$$ Écriture du journal impossible (Is a directory)";
    EXPECT_TRUE(torvane.WaitForOutput(notice)) << torvane.Output();
    torvane.Write("status\nquit\n");
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_EQ(torvane.ExitCode(), 0);
    const std::string output = torvane.Output();
    EXPECT_EQ(output.find(notice), output.rfind(notice)) << output;
}

// A file system of 16 KiB mounted where today's DAG file goes.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const std::string& folder) : folder_(folder) {
        QDir().mkpath(QString::fromStdString(folder));
        mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=16k") == 0;
    }
    ~SmallFileSystem() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

// The disk fills up while recording: the file keeps whole records numbered without a gap, and
// every passing that did not fit is in the log, whole, with the number it would have had.
TEST(FullDiskTest, EveryDagRecordIsInTheFileOrWholeInTheLog) {
    constexpr int kPassings = 1500;
    TorvaneProcess torvane;
    const std::string today = QDate::currentDate().toString("yyyyMMdd").toStdString();
    SmallFileSystem disk(torvane.DataFolder() + "/LogFiles/Logs-" + today);
    if (!disk.Mounted()) {
        GTEST_SKIP() << "mounting a small file system needs root; the core tests cover a full disk";
    }
    const int port = FreePort();
    torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(port) +
                     "\n[Torvane]\nBTorvHaltedAtStartup=NO\n[Ostrak]\nHost=127.0.0.1\nPort=1\n");
    ASSERT_TRUE(torvane.Start({"--headless"}));
    ASSERT_TRUE(torvane.WaitForOutput(kStartLine)) << torvane.Output();
    torvane.Write("transmit off\ndag on\n");
    ASSERT_TRUE(torvane.WaitForOutput("Enregistrement dans ")) << torvane.Output();

    QProcess source;
    source.setProcessChannelMode(QProcess::MergedChannels);
    source.start(QString::fromStdString(ToolPath("mylaps-sim")),
                 {"--port", QString::number(port), "--riders", QString::number(kPassings),
                  "--count", QString::number(kPassings), "--per-store", "100", "--backlog"});
    ASSERT_TRUE(source.waitForFinished(60000));
    ASSERT_EQ(source.exitCode(), 0) << source.readAll().toStdString();
    torvane.Write("quit\n");
    ASSERT_TRUE(torvane.WaitForExit());

    const std::string dagPath = torvane.DataFolder() + "/LogFiles/Logs-" + today;
    const QStringList dagFiles = QDir(QString::fromStdString(dagPath)).entryList({"*.dag"});
    ASSERT_EQ(dagFiles.size(), 1);
    const std::string file = dagPath + "/" + dagFiles[0].toStdString();
    const std::string dag = ReadWholeFile(file);
    ASSERT_FALSE(dag.empty());
    EXPECT_EQ(dag.substr(dag.size() - 2), "\r\n");

    std::set<std::string> chips;
    const std::regex record(R"((\d+)\tLoop1\t(KV\d{5})\t1\t\d\d:\d\d:\d\d\.\d\d)");
    int written = 0;
    for (const std::string& line : SplitLines(dag, "\r\n")) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, record)) << line;
        EXPECT_EQ(std::stoi(match[1]), ++written);
        chips.insert(match[2]);
    }

    const std::string log = ReadWholeFile(torvane.LogPath());
    const std::regex lost("\\$\\$\\$ Enregistrement DAG non écrit \\(" + EscapedForRegex(file) +
                          " : No space left on device\\) : (\\d+)\tLoop1\t(KV\\d{5})\t1\t");
    int notWritten = 0;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), lost); it != std::sregex_iterator();
         ++it) {
        EXPECT_EQ(std::stoi((*it)[1]), written + 1);
        chips.insert((*it)[2]);
        ++notWritten;
    }
    EXPECT_GT(written, 0);
    EXPECT_GT(notWritten, 0);
    EXPECT_EQ(written + notWritten, kPassings);
    EXPECT_EQ(chips.size(), static_cast<std::size_t>(kPassings));
}

}  // namespace
}  // namespace torvane::test
