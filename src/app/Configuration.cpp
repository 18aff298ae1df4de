#include "app/Configuration.h"

#include <cctype>

#include "app/Core.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "intake/DagFile.h"

namespace torvane {
namespace {

constexpr int kLowestPort = 1024;
constexpr int kHighestPort = 65535;

// The number at the start of the text, as a scanf "%d" reads it; values beyond the port range
// saturate instead of overflowing.
std::optional<long long> LeadingInteger(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    const std::size_t firstDigit = at;
    long long value = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        if (value <= kHighestPort) value = value * 10 + (text[at] - '0');
        ++at;
    }
    if (at == firstDigit) return std::nullopt;
    return negative ? -value : value;
}

std::string DagStartQuestion(const std::string& path, bool alsoTransmit) {
    return Format(Tr("Detections will now be recorded in a DAG file. File will be:\n\n%s\n\nDo you "
                     "agree?",
                     "Toutes les détections vont être maintenant enregistrées dans le fichier DAG "
                     ":\n\n%s\n\nÊtes-vous d'accord ?"),
                  path.c_str()) +
           "\n\n" +
           (alsoTransmit ? Tr("Please note that detections will also be sent to Ostrak-Pro",
                              "Notez que les détections continueront à être envoyées à Ostrak-Pro")
                         : Tr("Please note that detections will NO MORE be sent to Ostrak-Pro",
                              "Notez que les détections ne seront PLUS envoyées à Ostrak-Pro"));
}

}  // namespace

ConfigurationValues LoadConfiguration(Core& core) {
    ConfigurationValues values;
    values.hostAddress = ReadIniString("Ostrak", "Host", LoopbackHostName());
    values.hostPort = ReadIniInt("Ostrak", "Port", 8283);
    values.myLapsPort = ReadIniInt("MyLaps", "Port", 3097);

    RunningState& state = core.State();
    values.openWindowAtStartup = state.openWindowAtStartup;
    values.closeFlowAtStartup = state.closeFlowAtStartup;
    values.dagWanted = state.dagRecording;
    values.alsoTransmit = state.alsoTransmit;

    WriteIniInt("Settings", "TDaysToAdd", state.daysToAdd);
    core.Processor().ComputeRaceDayDates();

    values.daysToAdd = state.daysToAdd;
    values.daysToAddAtOpening = state.daysToAdd;
    values.ignoreUnknownChips = state.ignoreUnknownChips;
    return values;
}

void SwitchDagRecording(Core& core, bool wanted) {
    if (wanted) {
        // The path is fixed before the question, so the file used is the one the operator saw.
        const std::string path = DagFile::NewFilePath();
        if (!core.Dialogs().AskYesNo(DagStartQuestion(path, core.State().alsoTransmit))) return;
        // The file's own day folder: midnight may have passed while the question was open.
        MakeDirectories(path.substr(0, path.rfind('/')));
        core.Dag().StartRecording(path);
        return;
    }
    if (core.Dialogs().AskYesNo(Tr("Do you really want to stop the recording of all detections in "
                                   "the DAG file?",
                                   "Souhaitez vous vraiment arrêtez l'enregistrement des "
                                   "détections dans un fichier DAG ?"))) {
        core.Dag().StopRecording();
    }
}

ValidationResult<int> ValidatePort(const std::string& text) {
    const auto number = LeadingInteger(text);
    if (!number || *number < kLowestPort || *number > kHighestPort) {
        return ValidationResult<int>::Refused(Tr("Invalid port number", "Port invalide !"));
    }
    return ValidationResult<int>::Accepted(static_cast<int>(*number));
}

ValidationResult<std::string> ValidateHost(const std::string& text) {
    std::string host = Trim(text);
    if (host.empty()) {
        return ValidationResult<std::string>::Refused(
            Tr("Ostrak host is empty!", "Hôte Ostrak vide !"));
    }
    return ValidationResult<std::string>::Accepted(std::move(host));
}

std::optional<FieldRefusal> AcceptTypedFields(const std::string& myLapsPort,
                                              const std::string& hostPort, const std::string& host,
                                              ConfigurationValues& values) {
    const auto myLaps = ValidatePort(myLapsPort);
    if (!myLaps) return FieldRefusal{ConfigurationField::MyLapsPort, myLaps.error};
    const auto ostrakPort = ValidatePort(hostPort);
    if (!ostrakPort) return FieldRefusal{ConfigurationField::HostPort, ostrakPort.error};
    const auto ostrakHost = ValidateHost(host);
    if (!ostrakHost) return FieldRefusal{ConfigurationField::Host, ostrakHost.error};

    values.myLapsPort = *myLaps.value;
    values.hostPort = *ostrakPort.value;
    values.hostAddress = *ostrakHost.value;
    return std::nullopt;
}

void ApplyConfiguration(Core& core, const ConfigurationValues& values) {
    RunningState& state = core.State();
    // What the dialog's OK puts straight into the running state. The days-to-add of the opening
    // is not written back over the one the race-day timer has set since.
    if (values.daysToAdd != values.daysToAddAtOpening) state.daysToAdd = values.daysToAdd;
    state.ignoreUnknownChips = values.ignoreUnknownChips;

    state.closeFlowAtStartup = values.closeFlowAtStartup;
    state.openWindowAtStartup = values.openWindowAtStartup;

    WriteIniInt("Ostrak", "Port", values.hostPort);
    WriteIniString("Ostrak", "Host", values.hostAddress);
    WriteIniInt("MyLaps", "Port", values.myLapsPort);
    // A link that is trying to connect tries the corrected host next; an open one stays.
    core.Host().UpdateTarget(values.hostAddress, values.hostPort);

    WriteIniBool("Torvane", "BTorvOpenAtStartup", state.openWindowAtStartup);
    WriteIniBool("Torvane", "BTorvHaltedAtStartup", state.closeFlowAtStartup);

    WriteIniInt("Settings", "TDaysToAdd", state.daysToAdd);
    core.Processor().ComputeRaceDayDates();

    state.alsoTransmit = values.alsoTransmit;
    if (values.dagWanted != state.dagRecording) SwitchDagRecording(core, values.dagWanted);

    WriteIniBool("Settings", "TorvIgnoreUnknownTags", state.ignoreUnknownChips);
}

bool ReloadChipTable(Core& core, const std::function<void()>& loaded) {
    std::string message;
    const bool found = core.LoadChipTableAndLog(&message);
    if (loaded) loaded();
    core.Dialogs().ShowMessage(message, found ? MessageIcon::Information : MessageIcon::Warning);
    return found;
}

}  // namespace torvane
