#pragma once

// A core with the shared recording ports, whose status display also reaches the activity
// window as the program's does, and the window made on demand so that a test can prepare
// settings and state first.
#include <QCoreApplication>
#include <memory>

#include "app/Core.h"
#include "base/SettingsStore.h"
#include "support/CoreFakes.h"
#include "support/CoreHarness.h"
#include "ui/CTorvaneDlg.h"

namespace torvane::test {

class WindowStatus : public RecordingStatus {
public:
    CTorvaneDlg* window = nullptr;

    void ShowDayOffset(int daysToAdd) override {
        RecordingStatus::ShowDayOffset(daysToAdd);
        if (window) window->ShowDayOffset(daysToAdd);
    }
    void SetInsertButtonEnabled(bool enabled) override {
        RecordingStatus::SetInsertButtonEnabled(enabled);
        if (window) window->SetInsertButtonEnabled(enabled);
    }
    void ShowWaitingDetections(std::size_t count) override {
        RecordingStatus::ShowWaitingDetections(count);
        if (window) window->ShowWaitingDetections(count);
    }
};

class ActivityWindowHarness {
public:
    ActivityWindowHarness() {
        core = std::make_unique<Core>(Core::Ports{dialogs, status, manual, &timers});
        core->AttachMessageTarget();
        MakeDirectories(GetDataFolder());
        core->OpenJournal();
    }

    ~ActivityWindowHarness() {
        status.window = nullptr;
        window.reset();
        core.reset();
        QCoreApplication::sendPostedEvents();
    }

    // The window on a desktop with a notification area unless told otherwise.
    CTorvaneDlg& MakeWindow(bool trayAvailable = true) {
        window = std::make_unique<CTorvaneDlg>(*core);
        window->SetTrayAvailability([trayAvailable] { return trayAvailable; });
        status.window = window.get();
        return *window;
    }

    // Delivers the posted log lines and announces the rows appended to the lists.
    void DeliverPosted() {
        test::DeliverPosted();
        core->Lists().detections.Flush();
        core->Lists().summary.Flush();
        core->Lists().log.Flush();
    }

    IsolatedFolders folders;
    ScriptedDialogs dialogs;
    WindowStatus status;
    ScriptedManualInput manual;
    FakeTimers timers;
    std::unique_ptr<Core> core;
    std::unique_ptr<CTorvaneDlg> window;
};

}  // namespace torvane::test
