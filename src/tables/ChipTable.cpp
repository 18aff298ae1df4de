#include "tables/ChipTable.h"

#include <sys/stat.h>

#include <optional>
#include <vector>

#include "base/SettingsStore.h"
#include "base/Texts.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

constexpr const char* kChipTableFirstName = "ChipTable.dtb";

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The data folder before the program folder, and in each the fixed name before the second one.
std::optional<std::string> FindChipTableFile(const std::string& secondFileName) {
    const std::string dataFolder = GetDataFolder();
    const std::string programFolder = GetProgramFolder();
    const std::vector<std::string> candidates = {
        dataFolder + "/" + kChipTableFirstName,
        dataFolder + "/" + secondFileName,
        programFolder + "/" + kChipTableFirstName,
        programFolder + "/" + secondFileName,
    };
    for (const std::string& candidate : candidates) {
        if (PathExists(candidate)) return candidate;
    }
    return std::nullopt;
}

}  // namespace

bool LoadChipTable(const std::string& secondFileName, std::string& message) {
    const auto path = FindChipTableFile(secondFileName);
    if (!path) {
        message =
            Format(Tr("### No chip translation table found (file ChipTable.dtb or %s)",
                      "### Pas de table de correspondance trouvée (fichier ChipTable.dtb ou %s)"),
                   secondFileName.c_str());
        return false;
    }
    std::string reason;
    if (!DagTableLoadFile(*path, reason)) {
        message = Format(Tr("### Chip translation table not loaded (%s). The table in use is kept "
                            "(%d entries)",
                            "### Table de correspondance non chargée (%s). La table en service est "
                            "conservée (%d entrées)"),
                         reason.c_str(), DagTableCount());
        return false;
    }
    message = Format(Tr("+++ Chip translation table loaded (%d entries). File %s",
                        "+++ Table de correspondance chargée (%d entrées). Fichier %s"),
                     DagTableCount(), path->c_str());
    return true;
}

}  // namespace torvane
