#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

#include "HostSimulator.h"
#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

struct CommandLineCase {
    const char* name;
    const char* ini;  // settings written before the run
    QStringList arguments;
    const char* expected;  // in the output
    int exitCode;
};

// Test names show the case's name, not its bytes.
void PrintTo(const CommandLineCase& c, std::ostream* out) {
    *out << c.name;
}

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, AnswersInTheChosenLanguage) {
    const CommandLineCase& c = GetParam();
    TorvaneProcess folders;
    folders.WriteIni(c.ini);
    QProcess process;
    process.setProcessEnvironment(folders.Environment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromStdString(BinaryPath()), c.arguments);
    ASSERT_TRUE(process.waitForFinished(10000));
    const std::string output = process.readAll().toStdString();
    EXPECT_NE(output.find(c.expected), std::string::npos) << output;
    EXPECT_EQ(process.exitCode(), c.exitCode);
    // Asking for help or the version is no start: the settings are left as they were.
    EXPECT_EQ(ReadWholeFile(folders.IniPath()), c.ini);
}

const char* const kFrenchUsage =
    "Usage : torvane [--headless] [--open-flow] [--lang fr|en] [--help] [--version]\n"
    "                [--data-dir DIR] [--mylaps-port N] [--ostrak-port N] [--web-port PORT]\n";
const char* const kEnglishUsage =
    "Usage: torvane [--headless] [--open-flow] [--lang fr|en] [--help] [--version]\n"
    "               [--data-dir DIR] [--mylaps-port N] [--ostrak-port N] [--web-port PORT]\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"HelpInFrenchByDefault", "", {"--help"}, kFrenchUsage, 0},
        CommandLineCase{
            "HelpInTheSettingsLanguage", "[Torvane]\nLanguage=en\n", {"--help"}, kEnglishUsage, 0},
        CommandLineCase{"LangBeforeHelp", "", {"--lang", "en", "--help"}, kEnglishUsage, 0},
        CommandLineCase{"LangAfterHelpOverTheSetting",
                        "[Torvane]\nLanguage=en\n",
                        {"--help", "--lang=fr"},
                        kFrenchUsage,
                        0},
        CommandLineCase{
            "UnknownSettingIsFrench", "[Torvane]\nLanguage=de\n", {"-h"}, kFrenchUsage, 0},
        CommandLineCase{"Version", "", {"--version"}, "Torvane Version 1.70b - 24 jun 2o26\n", 0},
        CommandLineCase{"UnknownOption", "", {"--bogus"}, "option inconnue: --bogus\n", 2},
        CommandLineCase{"UnknownOptionInEnglish",
                        "",
                        {"--lang", "en", "--bogus"},
                        "unknown option: --bogus\nUsage: torvane",
                        2},
        CommandLineCase{"UnknownLanguage",
                        "",
                        {"--lang", "de", "--help"},
                        "--lang attend fr ou en, pas « de »\n",
                        2},
        CommandLineCase{"LanguageMissing", "", {"--lang"}, "--lang attend fr ou en\n", 2},
        CommandLineCase{
            "WebPortNotANumber", "", {"--web-port", "80x"}, "option inconnue: --web-port\n", 2},
        CommandLineCase{"CtlWithoutARunningTorvane",
                        "",
                        {"--lang", "en", "ctl", "status"},
                        "No Torvane answers",
                        2},
        CommandLineCase{"CtlUnknownCommand", "", {"ctl", "frobnicate"}, "Usage : torvane ctl", 1},
        CommandLineCase{"PortOutOfRange",
                        "",
                        {"--mylaps-port", "65536"},
                        "--mylaps-port attend un numéro de port de 1 à 65535, pas « 65536 »\n",
                        2},
        CommandLineCase{"PortNotANumber",
                        "",
                        {"--lang", "en", "--ostrak-port=80x"},
                        "--ostrak-port takes a port number from 1 to 65535, not \"80x\"\n",
                        2},
        CommandLineCase{"PortMissing",
                        "",
                        {"--ostrak-port"},
                        "--ostrak-port attend un numéro de port de 1 à 65535\n",
                        2},
        CommandLineCase{
            "DataFolderMissing", "", {"--data-dir"}, "--data-dir attend un dossier\n", 2},
        CommandLineCase{
            "DataFolderUnusable",
            "",
            {"--data-dir", "/dev/null/rehearsal", "--help"},
            "torvane: impossible d'utiliser /dev/null/rehearsal comme dossier de données",
            2}),
    [](const auto& info) { return std::string(info.param.name); });

// Headless runs and what they leave in the settings.
class StartOptionsTest : public ::testing::Test {
protected:
    std::string RunStatus(const std::string& ini, const std::vector<std::string>& arguments) {
        torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(FreePort()) + "\n" + ini);
        std::vector<std::string> all{"--headless"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        if (!torvane.Start(all)) return "not started";
        torvane.Write("status\nquit\n");
        torvane.WaitForExit();
        return torvane.Output();
    }
    std::string Setting(const std::string& key) {
        const std::string ini = ReadWholeFile(torvane.IniPath());
        const size_t at = ini.find("\n" + key + "=");
        if (at == std::string::npos) return "(none)";
        const size_t start = at + key.size() + 2;
        return ini.substr(start, ini.find('\n', start) - start);
    }
    TorvaneProcess torvane;
};

TEST_F(StartOptionsTest, TheFirstStartWritesFrenchAndSpeaksIt) {
    const std::string output = RunStatus("", {});
    EXPECT_NE(output.find("MyLaps : en attente de connexion\n"), std::string::npos) << output;
    EXPECT_EQ(Setting("Language"), "fr");
}

TEST_F(StartOptionsTest, TheSettingChoosesEnglish) {
    const std::string output = RunStatus("[Torvane]\nLanguage=en\n", {});
    EXPECT_NE(output.find("MyLaps: waiting for a connection\nOstrak Pro: disconnected\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("Starting Torvane"), std::string::npos) << output;
    EXPECT_EQ(Setting("Language"), "en");
}

TEST_F(StartOptionsTest, LangIsForOneRunOnly) {
    const std::string output = RunStatus("[Torvane]\nLanguage=fr\n", {"--lang", "en"});
    EXPECT_NE(output.find("Detection flow: closed\n"), std::string::npos) << output;
    EXPECT_EQ(Setting("Language"), "fr");
}

TEST_F(StartOptionsTest, OpenFlowOpensItForThisRunOnly) {
    const std::string output = RunStatus("", {"--open-flow"});
    EXPECT_NE(output.find("Flux des détections : ouvert\n"), std::string::npos) << output;
    EXPECT_EQ(output.find("Mais le flux des détections est fermé"), std::string::npos) << output;
    EXPECT_EQ(Setting("BTorvHaltedAtStartup"), "YES");
}

// A rehearsal beside a running race: its own folder (the chip table and runners shipped for it)
// and ports, none of which reaches the race's files or the settings.
TEST_F(StartOptionsTest, ARehearsalRunsBesideTheRaceWithItsOwnFolderAndPorts) {
    torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(FreePort()) + "\n");
    ASSERT_TRUE(torvane.Start({"--headless"}));
    ASSERT_TRUE(torvane.WaitForOutput("Démarrage Torvane"));

    QTemporaryDir throwAway;
    const std::string folder = throwAway.path().toStdString() + "/rehearsal";
    const std::string shipped = TORVANE_SOURCE_PATH "/dist/rehearsal/";
    const std::string ini = "[MyLaps]\nPort=1\n[Ostrak]\nHost=127.0.0.1\nPort=2\n";
    QDir().mkpath(QString::fromStdString(folder));
    WriteWholeFile(folder + "/Torvane.ini", ini);
    WriteWholeFile(folder + "/ChipTable.dtb", ReadWholeFile(shipped + "ChipTable.dtb"));
    HostSimulator host;
    ASSERT_TRUE(host.Start(folder + "/host.log", shipped + "runners.txt"));
    const int myLapsPort = FreePort();

    TorvaneProcess rehearsal;
    rehearsal.Process().setProcessEnvironment(torvane.Environment());  // the race's lock folder
    ASSERT_TRUE(rehearsal.Start({"--headless", "--open-flow", "--data-dir", folder, "--mylaps-port",
                                 std::to_string(myLapsPort), "--ostrak-port",
                                 std::to_string(host.Port())}));
    ASSERT_TRUE(rehearsal.WaitForOutput("+++ Table de correspondance chargée (50 entrées)."))
        << rehearsal.Output();
    QProcess source;
    source.start(QString::fromStdString(ToolPath("mylaps-sim")),
                 {"--port", QString::number(myLapsPort), "--count", "2", "--backlog"});
    ASSERT_TRUE(source.waitForFinished(20000));
    EXPECT_EQ(source.exitCode(), 0) << source.readAll().toStdString();
    EXPECT_TRUE(rehearsal.WaitForOutput("KV00002   n°102\n")) << rehearsal.Output();
    // A slow build may journal the two passings only after the source has left and the host
    // link has ended; the lines then go at the link's next attempt, ten seconds on.
    EXPECT_TRUE(rehearsal.WaitForOutput("RES    101 MARTIN Anne", 25000)) << rehearsal.Output();
    EXPECT_TRUE(rehearsal.WaitForOutput("RES    102 BERNARD Paul", 25000)) << rehearsal.Output();
    rehearsal.Write("quit\n");
    torvane.Write("quit\n");
    ASSERT_TRUE(rehearsal.WaitForExit());
    ASSERT_TRUE(torvane.WaitForExit());

    const std::string kept = ReadWholeFile(folder + "/Torvane.ini");
    EXPECT_NE(kept.find("[MyLaps]\nPort=1\n"), std::string::npos) << kept;
    EXPECT_NE(kept.find("[Ostrak]\nHost=127.0.0.1\nPort=2\n"), std::string::npos) << kept;
    EXPECT_NE(ReadWholeFile(folder + "/LogFiles/Torvane-log.txt").find("KV00001"),
              std::string::npos);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(folder + "/Torvane-journal.db")));
    EXPECT_EQ(ReadWholeFile(torvane.LogPath()).find("KV00001"), std::string::npos);
}

}  // namespace
}  // namespace torvane::test
