#pragma once

// Runs the real torvane program as a child process on a fresh temporary data folder.

#include <QProcess>
#include <QTemporaryDir>
#include <string>
#include <vector>

namespace torvane::test {

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
// A TCP port that is free now (the system's pick, released at once).
int FreePort();
std::string ToolPath(const std::string& name);
// Preloads `library` into a program started with this environment; a program built with
// AddressSanitizer is told not to insist on its runtime coming first.
void PreloadLibrary(QProcessEnvironment& environment, const std::string& library);
// The torvane program under test.
std::string BinaryPath();

class TorvaneProcess {
public:
    TorvaneProcess();
    ~TorvaneProcess();

    std::string DataFolder() const;  // where Torvane.ini and LogFiles live
    std::string IniPath() const { return DataFolder() + "/Torvane.ini"; }
    std::string LogPath() const { return DataFolder() + "/LogFiles/Torvane-log.txt"; }
    std::string RuntimeFolder() const;
    // Settings written before the start (the file is created as given).
    void WriteIni(const std::string& content);

    bool Start(const std::vector<std::string>& arguments = {});
    // Waits until the log file holds the text.
    bool WaitForLog(const std::string& text, int timeoutMs = 10000);
    // Waits until the standard output holds the text.
    bool WaitForOutput(const std::string& text, int timeoutMs = 10000);
    void Write(const std::string& input);
    void CloseInput();
    void Signal(int signalNumber);
    bool WaitForExit(int timeoutMs = 10000);
    int ExitCode() const { return process_.exitCode(); }
    QProcess::ExitStatus ExitStatus() const { return process_.exitStatus(); }
    std::string Output();
    qint64 Pid() const { return process_.processId(); }
    QProcess& Process() { return process_; }
    QProcessEnvironment Environment() const;

private:
    QTemporaryDir root_;
    QProcess process_;
    std::string output_;
};

}  // namespace torvane::test
