#include "TorvaneProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace torvane::test {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

void PreloadLibrary(QProcessEnvironment& environment, const std::string& library) {
    environment.insert("LD_PRELOAD", QString::fromStdString(library));
    const QString sanitizerOptions = environment.value("ASAN_OPTIONS");
    environment.insert("ASAN_OPTIONS", sanitizerOptions + (sanitizerOptions.isEmpty() ? "" : ":") +
                                           "verify_asan_link_order=0");
}

std::string ToolPath(const std::string& name) {
    const char* tools = std::getenv("TORVANE_TOOLS_DIR");
    return std::string(tools ? tools : TORVANE_TOOLS_PATH) + "/" + name;
}

std::string BinaryPath() {
    const char* binary = std::getenv("TORVANE_BINARY");
    return binary ? binary : TORVANE_BINARY_PATH;
}

TorvaneProcess::TorvaneProcess() {
    QDir(root_.path()).mkpath("data/Holtmar/Torvane");
    QDir(root_.path()).mkpath("runtime");
    QFile::setPermissions(root_.path() + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    process_.setProcessEnvironment(Environment());
}

TorvaneProcess::~TorvaneProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QProcessEnvironment TorvaneProcess::Environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", root_.path() + "/data");
    environment.insert("XDG_RUNTIME_DIR", root_.path() + "/runtime");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

std::string TorvaneProcess::DataFolder() const {
    return root_.path().toStdString() + "/data/Holtmar/Torvane";
}

std::string TorvaneProcess::RuntimeFolder() const {
    return root_.path().toStdString() + "/runtime";
}

void TorvaneProcess::WriteIni(const std::string& content) {
    WriteWholeFile(IniPath(), content);
}

bool TorvaneProcess::Start(const std::vector<std::string>& arguments) {
    QStringList list;
    for (const auto& argument : arguments) list << QString::fromStdString(argument);
    // The web page stays off unless a test asks for it, so that runs never meet on its port.
    if (!list.contains("--web-port"))
        list << "--web-port"
             << "off";
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QString::fromStdString(BinaryPath()), list);
    return process_.waitForStarted(10000);
}

bool TorvaneProcess::WaitForLog(const std::string& text, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (ReadWholeFile(LogPath()).find(text) == std::string::npos) {
        if (elapsed.elapsed() > timeoutMs) return false;
        process_.waitForReadyRead(20);
        output_ += process_.readAll().toStdString();
    }
    return true;
}

bool TorvaneProcess::WaitForOutput(const std::string& text, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        output_ += process_.readAll().toStdString();
        if (output_.find(text) != std::string::npos) return true;
        if (elapsed.elapsed() > timeoutMs) return false;
        process_.waitForReadyRead(20);
    }
}

std::string TorvaneProcess::Output() {
    output_ += process_.readAll().toStdString();
    return output_;
}

void TorvaneProcess::Write(const std::string& input) {
    process_.write(input.data(), static_cast<qint64>(input.size()));
    process_.waitForBytesWritten(2000);
}

void TorvaneProcess::CloseInput() {
    process_.closeWriteChannel();
}

void TorvaneProcess::Signal(int signalNumber) {
    ::kill(static_cast<pid_t>(process_.processId()), signalNumber);
}

bool TorvaneProcess::WaitForExit(int timeoutMs) {
    const bool finished = process_.waitForFinished(timeoutMs);
    output_ += process_.readAll().toStdString();
    return finished;
}

}  // namespace torvane::test
