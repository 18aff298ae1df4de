#include "HostSimulator.h"

#include <regex>

#include "TorvaneProcess.h"

namespace torvane::test {

bool HostSimulator::Start(const std::string& logPath, const std::string& runnersPath, int port) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments{"--port", QString::number(port), "--log",
                          QString::fromStdString(logPath)};
    if (!runnersPath.empty()) arguments << "--runners" << QString::fromStdString(runnersPath);
    process_.start(QString::fromStdString(ToolPath("ostrak-sim")), arguments);
    if (!process_.waitForStarted(5000)) return false;
    std::string output;
    while (output.find('\n') == std::string::npos && process_.waitForReadyRead(5000)) {
        output += process_.readAll().toStdString();
    }
    std::smatch match;
    if (!std::regex_search(output, match, std::regex("listening on port (\\d+)"))) return false;
    port_ = std::stoi(match[1]);
    return true;
}

HostSimulator::~HostSimulator() {
    Stop();
}

void HostSimulator::Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(5000);
}

}  // namespace torvane::test
