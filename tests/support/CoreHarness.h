#pragma once

// A whole core on a temporary data folder with recording ports, for tests that drive the
// program as its windows would.

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Core.h"
#include "support/CoreFakes.h"
#include "support/TempFolder.h"

namespace torvane::test {

// Points XDG_DATA_HOME, XDG_RUNTIME_DIR and the program folder at a fresh temporary folder.
class IsolatedFolders {
public:
    IsolatedFolders();
    ~IsolatedFolders();
    std::string DataFolder() const;  // <temp>/data/Holtmar/Torvane
    std::string ProgramFolder() const;
    std::string IniPath() const { return DataFolder() + "/Torvane.ini"; }
    std::string LogPath() const { return DataFolder() + "/LogFiles/Torvane-log.txt"; }
    const TempFolder& Root() const { return root_; }

private:
    TempFolder root_;
};

// A passing of a Store record, as the protocol layer hands it over.
ReceivedPassing MakePassing(const std::string& source, const std::string& chip,
                            const std::string& timeField, const std::string& boxDate);

// Pumps the event loop until `done` holds or the deadline passes; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Delivers every posted message now.
void DeliverPosted();

class CoreHarness {
public:
    explicit CoreHarness(bool useFakeTimers = true);
    ~CoreHarness();

    Core& core() { return *core_; }
    // Ends this core and starts another on the same folders, as a restart of the program does.
    void Restart();
    IsolatedFolders folders;
    ScriptedDialogs dialogs;
    RecordingStatus status;
    ScriptedManualInput manual;
    FakeTimers timers;

    // Log lines that reached the log list (text after "HH:MM:SS: ").
    std::vector<std::string> ShownLog() const;
    std::vector<std::string> DetectionLines() const;
    // The host lines journaled and not yet known to have reached the host, oldest first.
    std::vector<std::string> WaitingHostLines() const;
    std::string LogFile() const;

private:
    void Create();
    bool useFakeTimers_;
    std::unique_ptr<Core> core_;
};

}  // namespace torvane::test
