#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <regex>

#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

const char* const kStartLine = "Démarrage Torvane - Version 1.70b - 24 jun 2o26";

bool WaitUntilFileHolds(const std::string& path, const std::string& text) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (ReadWholeFile(path).find(text) == std::string::npos) {
        if (elapsed.elapsed() > 10000) return false;
        QThread::msleep(20);
    }
    return true;
}

// Once the host link has come up the window has played its status sounds; the program must
// still end cleanly on a signal, with nothing freed twice on the way out.
TEST(DesktopLinkExitTest, AfterTheLinksCameUpASignalStillEndsTheProgramCleanly) {
    TorvaneProcess torvane;
    QProcess host;
    host.start(
        QString::fromStdString(ToolPath("ostrak-sim")),
        {"--port", "0", "--log", QString::fromStdString(torvane.DataFolder() + "/host.log")});
    ASSERT_TRUE(host.waitForStarted(5000));
    std::string hostOutput;
    while (hostOutput.find('\n') == std::string::npos && host.waitForReadyRead(5000)) {
        hostOutput += host.readAll().toStdString();
    }
    std::smatch match;
    ASSERT_TRUE(std::regex_search(hostOutput, match, std::regex("listening on port (\\d+)")));

    const int myLapsPort = FreePort();
    torvane.WriteIni(
        "[Torvane]\nBTorvHaltedAtStartup=NO\n[MyLaps]\nPort=" + std::to_string(myLapsPort) +
        "\n[Ostrak]\nHost=127.0.0.1\nPort=" + match[1].str() + "\n");
    // Freed memory is overwritten at once, so a use after free cannot pass unnoticed.
    QProcessEnvironment environment = torvane.Environment();
    environment.insert("MALLOC_PERTURB_", "165");
    torvane.Process().setProcessEnvironment(environment);
    ASSERT_TRUE(torvane.Start());
    ASSERT_TRUE(torvane.WaitForLog(kStartLine));

    QProcess source;
    source.start(QString::fromStdString(ToolPath("mylaps-sim")),
                 {"--port", QString::number(myLapsPort), "--count", "2", "--per-store", "1",
                  "--rate", "5", "--reconnect"});
    ASSERT_TRUE(source.waitForFinished(20000));
    EXPECT_EQ(source.exitCode(), 0) << source.readAll().toStdString();
    // Held while the link was being made, the detections reach the host just after.
    ASSERT_TRUE(WaitUntilFileHolds(torvane.DataFolder() + "/host.log", "AddDagClock("));

    torvane.Signal(SIGTERM);
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_EQ(torvane.ExitStatus(), QProcess::NormalExit) << torvane.Output();
    EXPECT_EQ(torvane.ExitCode(), 0);
    const std::string log = ReadWholeFile(torvane.LogPath());
    EXPECT_NE(log.find(": *** Regular Torvane stop\n"), std::string::npos);
    host.kill();
    host.waitForFinished(5000);
}

}  // namespace
}  // namespace torvane::test
