#include "support/CoreHarness.h"

#include <sys/stat.h>
#include <QElapsedTimer>

#include <cstdlib>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/SettingsStore.h"

namespace torvane::test {

IsolatedFolders::IsolatedFolders() {
    const std::string root = root_.Path();
    MakeDirectories(root + "/data");
    MakeDirectories(root + "/runtime");
    ::chmod((root + "/runtime").c_str(), 0700);
    MakeDirectories(root + "/program");
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    SetProgramFolderForTesting(root + "/program");
    ResetSettingsPathsForTesting();
    MakeDirectories(GetLogFolder());
    FixLogFilePath();
}

IsolatedFolders::~IsolatedFolders() {
    ResetSettingsPathsForTesting();
}

std::string IsolatedFolders::DataFolder() const {
    return root_.Path() + "/data/Holtmar/Torvane";
}
std::string IsolatedFolders::ProgramFolder() const {
    return root_.Path() + "/program";
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

void DeliverPosted() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

CoreHarness::CoreHarness(bool useFakeTimers) : useFakeTimers_(useFakeTimers) {
    Create();
}

void CoreHarness::Create() {
    core_ = std::make_unique<Core>(
        Core::Ports{dialogs, status, manual, useFakeTimers_ ? &timers : nullptr});
    core_->AttachMessageTarget();
    core_->OpenJournal();
    core_->StartLinkForWaitingLines();
}

void CoreHarness::Restart() {
    core_.reset();
    QCoreApplication::sendPostedEvents();
    Create();
}

CoreHarness::~CoreHarness() {
    core_.reset();
    QCoreApplication::sendPostedEvents();
}

std::vector<std::string> CoreHarness::ShownLog() const {
    std::vector<std::string> lines;
    const auto& log = core_->Lists().log;
    for (int i = 0; i < log.Count(); ++i) {
        const std::string& line = log.Line(i);
        const auto colon = line.find(": ");
        lines.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
    }
    return lines;
}

std::vector<std::string> CoreHarness::DetectionLines() const {
    std::vector<std::string> lines;
    const auto& list = core_->Lists().detections;
    for (int i = 0; i < list.Count(); ++i) lines.push_back(list.Line(i));
    return lines;
}

std::vector<std::string> CoreHarness::WaitingHostLines() const {
    std::vector<std::string> lines;
    for (const WaitingHostLine& line : core_->HostOutbox().Waiting()) lines.push_back(line.text);
    return lines;
}

ReceivedPassing MakePassing(const std::string& source, const std::string& chip,
                            const std::string& timeField, const std::string& boxDate) {
    ReceivedPassing passing;
    passing.source = source;
    passing.chip = chip;
    passing.timeField = timeField;
    passing.boxDate = boxDate;
    passing.record = chip + timeField + boxDate;
    passing.receivedUtcMs = clock::NowMs();
    return passing;
}

std::string CoreHarness::LogFile() const {
    return ReadFile(folders.LogPath());
}

}  // namespace torvane::test
