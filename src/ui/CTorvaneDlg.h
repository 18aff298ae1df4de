#pragma once

#include <QIcon>
#include <functional>

#include "base/SettingsStore.h"
#include "ui/ActivityControls.h"
#include "widgets/CResizeDialog.h"
#include "widgets/DialogUnits.h"

class QComboBox;
class QLabel;
class QListView;
class QPushButton;

namespace torvane {

class CButtonST;
class CLabelST;
class Core;

// The activity window: the detection, summary and log lists of the core, the buttons of the
// operator's actions and the log level of the window. Created once and kept for the whole run;
// hiding it never destroys it.
class CTorvaneDlg : public CResizeDialog {
public:
    explicit CTorvaneDlg(Core& core, QWidget* parent = nullptr);

    // What the configuration (1014), insert (1018) and exit (1004) buttons do. By default
    // configuration does nothing, insertion asks the core for a manual detection and exit does
    // nothing.
    void SetConfigureHandler(std::function<void()> handler) { onConfigure_ = std::move(handler); }
    // What the journal button does (by default nothing).
    void SetJournalHandler(std::function<void()> handler) { onJournal_ = std::move(handler); }
    void SetInsertHandler(std::function<void()> handler) { onInsert_ = std::move(handler); }
    void SetExitHandler(std::function<void()> handler) { onExit_ = std::move(handler); }

    // The status controls of the window, reached through the program's status display.
    // Shows "+%dh" with daysToAdd × 24 when daysToAdd > 0; hides the display otherwise.
    void ShowDayOffset(int daysToAdd);
    void SetInsertButtonEnabled(bool enabled);
    // "N détections en attente" beside the version text; hidden when none waits.
    void ShowWaitingDetections(std::size_t count);

    // Stores the window rectangle as "Torvane"/"Position" and remembers it.
    void SaveWindowPosition();
    IniRect RememberedPosition() const { return rememberedPosition_; }
    // Hide, Enter, Escape and the close box: the position is stored, then the window hidden.
    // A desktop without a notification area could never show it again: there the window is
    // minimised into the task bar instead.
    void HideWindow();
    // Brings the window, minimised or not, in front of all others without moving or resizing it.
    void PopFront();
    // At start-up: shown when asked for; otherwise hidden, or minimised into the task bar where
    // no notification area could show it later.
    void ShowAtStart(bool open);

    // How the window learns whether the desktop has a notification area (replaced by tests);
    // the hint follows at once.
    void SetTrayAvailability(std::function<bool()> isTrayAvailable);

protected:
    void accept() override { HideWindow(); }
    void reject() override { HideWindow(); }
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void RegisterResizeRules();
    void ConnectCommands();
    void Initialise();

    void RestorePosition();
    void SelectWindowLevelItem(int windowLevel);
    void ShowFlowState(bool open);
    void OnFlowClicked(bool checked);
    void OnWindowLevelChosen(int index);
    void RefreshButtons();
    void ShowHint();

    Core& core_;
    DialogBaseUnits base_;
    IniRect rememberedPosition_;
    QIcon windowIcon_;
    std::function<void()> onConfigure_;
    std::function<void()> onJournal_;
    std::function<void()> onInsert_;
    std::function<void()> onExit_;
    std::function<bool()> isTrayAvailable_;

    ActivityControls controls_;
};

}  // namespace torvane
