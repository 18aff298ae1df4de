#include "base/SettingsStore.h"

#include <SimpleIni.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "base/Texts.h"

namespace torvane {
namespace {

std::mutex pathsMutex;
std::optional<std::string> programFolderOverride;
std::optional<bool> useProgramFolderMarker;
std::optional<std::string> iniPath;

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool LoadIni(CSimpleIniA& ini) {
    ini.SetUnicode(false);
    ini.SetSpaces(false);
    ini.SetMultiKey(false);
    return ini.LoadFile(GetIniPath().c_str()) >= 0;
}

void WriteValue(const char* section, const char* key, const std::string& value) {
    CSimpleIniA ini;
    LoadIni(ini);
    ini.SetValue(section, key, value.c_str());
    ini.SaveFile(GetIniPath().c_str(), false);
}

std::optional<std::string> ReadValue(const char* section, const char* key) {
    CSimpleIniA ini;
    LoadIni(ini);
    const char* value = ini.GetValue(section, key, nullptr);
    if (!value) return std::nullopt;
    std::string text(value);
    if (text.size() > 2047) text.resize(2047);
    return text;
}

}  // namespace

int ReadIniInt(const char* section, const char* key, int defaultValue) {
    const auto value = ReadValue(section, key);
    if (!value) return defaultValue;
    // Like the platform's profile reader: leading decimal digits, 0 when there are none.
    const char* p = value->c_str();
    while (*p == ' ' || *p == '\t') ++p;
    errno = 0;
    const long n = std::strtol(p, nullptr, 10);
    if (errno == ERANGE || n > INT_MAX || n < INT_MIN) return 0;
    return static_cast<int>(n);
}

void WriteIniInt(const char* section, const char* key, int value) {
    WriteValue(section, key, std::to_string(value));
}

std::string ReadIniString(const char* section, const char* key, const std::string& defaultValue) {
    return ReadValue(section, key).value_or(defaultValue);
}

void WriteIniString(const char* section, const char* key, const std::string& value) {
    WriteValue(section, key, value);
}

bool ReadIniBool(const char* section, const char* key, bool defaultValue) {
    std::string text = ReadIniString(section, key, "");
    if (text.empty()) return defaultValue;
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (text == "NO" || text == "FALSE" || text == "0") return false;
    if (text == "YES" || text == "TRUE" || text == "1") return true;
    return defaultValue;
}

void WriteIniBool(const char* section, const char* key, bool value) {
    WriteValue(section, key, value ? "YES" : "NO");
}

IniRect ReadIniRect(const char* section, const char* key, const IniRect& defaultValue) {
    const std::string defaultText = Format("[%d, %d, %d, %d]", defaultValue.left, defaultValue.top,
                                           defaultValue.right, defaultValue.bottom);
    const std::string text = ReadIniString(section, key, defaultText);
    IniRect rect;
    if (std::sscanf(text.c_str(), "[%d, %d, %d, %d]", &rect.left, &rect.top, &rect.right,
                    &rect.bottom) == 4) {
        return rect;
    }
    return defaultValue;
}

void WriteIniRect(const char* section, const char* key, const IniRect& rect) {
    WriteValue(section, key,
               Format("[%d, %d, %d, %d]", rect.left, rect.top, rect.right, rect.bottom));
}

std::string GetProgramFolder() {
    {
        std::lock_guard lock(pathsMutex);
        if (programFolderOverride) return *programFolderOverride;
    }
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return ".";
    std::string path(buffer, static_cast<size_t>(length));
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string GetDataFolder() {
    const std::string programFolder = GetProgramFolder();
    bool useProgramFolder;
    {
        std::lock_guard lock(pathsMutex);
        if (!useProgramFolderMarker) {
            useProgramFolderMarker = PathExists(programFolder + "/_useXPdirs");
        }
        useProgramFolder = *useProgramFolderMarker;
    }
    if (useProgramFolder) return programFolder;

    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::string(home) + "/.local/share";
    }
    const std::string folder = base + "/Holtmar/Torvane";
    if (!MakeDirectories(folder)) return {};
    return folder;
}

std::string GetIniPath() {
    {
        std::lock_guard lock(pathsMutex);
        if (iniPath) return *iniPath;
    }
    const std::string path = GetDataFolder() + "/Torvane.ini";
    std::lock_guard lock(pathsMutex);
    if (!iniPath) iniPath = path;
    return *iniPath;
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) return false;
    std::string copy = path;
    if (copy.size() > 1 && copy.back() == '/') copy.pop_back();
    if (::mkdir(copy.c_str(), 0755) == 0) return true;
    if (errno == EEXIST) {
        struct stat st {};
        return ::stat(copy.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    for (size_t i = 1; i <= copy.size(); ++i) {
        if (i < copy.size() && copy[i] != '/') continue;
        const std::string part = copy.substr(0, i);
        if (::mkdir(part.c_str(), 0755) != 0 && errno == ENOENT) return false;
    }
    struct stat st {};
    return ::stat(copy.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string LoopbackHostName() {
    return "localhost";
}

void SetProgramFolderForTesting(const std::string& folder) {
    std::lock_guard lock(pathsMutex);
    programFolderOverride = folder;
    useProgramFolderMarker.reset();
    iniPath.reset();
}

void ResetSettingsPathsForTesting() {
    std::lock_guard lock(pathsMutex);
    useProgramFolderMarker.reset();
    iniPath.reset();
}

}  // namespace torvane
