#pragma once

#include <functional>
#include <optional>
#include <string>

#include "state/ValidationResult.h"

// The configuration dialog's sequence without its window: the values it shows, the checks of
// what the operator typed, and what OK changes in the settings and the running state.
namespace torvane {

class Core;

struct ConfigurationValues {
    int myLapsPort = 3097;
    int hostPort = 8283;
    std::string hostAddress;
    bool openWindowAtStartup = true;
    bool closeFlowAtStartup = true;
    bool dagWanted = false;
    bool alsoTransmit = true;
    int daysToAdd = 0;  // item of the days-to-add list; −1 when none is selected
    // Days-to-add when the dialog opened. The race-day timer may move the running value while the
    // dialog is open (at midnight): OK applies `daysToAdd` only when the operator chose another.
    int daysToAddAtOpening = 0;
    bool ignoreUnknownChips = false;
};

// The values shown when the dialog opens: ports and host from the settings, the flags from the
// running state. Rewrites "Settings"/"TDaysToAdd" and recomputes the race-day dates, whatever the
// operator then does with the dialog.
ConfigurationValues LoadConfiguration(Core& core);

// A port field: a decimal number read from the start of the text (leading blanks allowed,
// trailing characters ignored), from 1024 to 65535.
ValidationResult<int> ValidatePort(const std::string& text);
// The host field, trimmed; refused when nothing is left.
ValidationResult<std::string> ValidateHost(const std::string& text);

enum class ConfigurationField { MyLapsPort, HostPort, Host };

struct FieldRefusal {
    ConfigurationField field;
    std::string message;
};

// Checks the three typed fields in the dialog's order (MyLaps port, host port, host) and stops
// at the first refusal; when all pass, they become the values' ports and host.
std::optional<FieldRefusal> AcceptTypedFields(const std::string& myLapsPort,
                                              const std::string& hostPort, const std::string& host,
                                              ConfigurationValues& values);

// What OK changes, in this order: start-up flags, host and MyLaps settings, start-up settings,
// days-to-add (only when the operator chose another) and the race-day dates, also-transmit, the
// DAG switch (with its question) when the wanted recording differs from the current one, and the
// unknown-chip policy.
void ApplyConfiguration(Core& core, const ConfigurationValues& values);

// The DAG switch towards the wanted recording: asks the operator first (starting names the new
// file and whether detections still go to Ostrak-Pro) and changes nothing on No.
void SwitchDagRecording(Core& core, bool wanted);

// The reload button: loads the chip table, logs the outcome, calls `loaded` (the window restores
// its cursor there) and shows the outcome in a message box. True when a table was loaded.
bool ReloadChipTable(Core& core, const std::function<void()>& loaded = nullptr);

}  // namespace torvane
