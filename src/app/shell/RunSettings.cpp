#include "app/shell/RunSettings.h"

#include <filesystem>

#include "app/shell/SingleInstance.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"

namespace torvane {

std::string ApplyRunSettings(const CommandLine& line) {
    if (!line.dataFolder.empty()) {
        std::error_code error;
        // Absolute, so that the log and the journal stay where they were named.
        const std::filesystem::path folder = std::filesystem::absolute(line.dataFolder, error);
        const std::string reason = error ? error.message() : UseDataFolderForRun(folder.string());
        if (!reason.empty()) {
            return Format(Tr("cannot use %s as the data folder: %s",
                             "impossible d'utiliser %s comme dossier de données : %s"),
                          line.dataFolder.c_str(), reason.c_str());
        }
        SingleInstance::LockInFolder(folder.string());
    }
    if (line.myLapsPort) SetIniValueForRun("MyLaps", "Port", std::to_string(*line.myLapsPort));
    if (line.ostrakPort) SetIniValueForRun("Ostrak", "Port", std::to_string(*line.ostrakPort));
    return {};
}

}  // namespace torvane
