#include "HostSimulator.h"

#include <regex>

#include "TorvaneProcess.h"

namespace torvane::test {

bool HostSimulator::Start(const std::string& logPath, const std::string& runnersPath) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QString::fromStdString(ToolPath("ostrak-sim")),
                   {"--port", "0", "--log", QString::fromStdString(logPath), "--runners",
                    QString::fromStdString(runnersPath)});
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
    process_.kill();
    process_.waitForFinished(5000);
}

}  // namespace torvane::test
