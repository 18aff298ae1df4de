#include "base/SettingsStore.h"

#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>

#include "base/CalendarText.h"
#include "base/FileAppend.h"
#include "base/Logging.h"
#include "base/Texts.h"

namespace torvane {
namespace {

std::mutex pathsMutex;
std::optional<std::string> programFolderOverride;
std::optional<bool> useProgramFolderMarker;
std::optional<std::string> iniPath;
std::optional<std::string> dataFolderForRun;
bool settingsFileBlocked = false;

// Values given for this run only, by lower-case "section\nkey" (settings are case-insensitive).
std::mutex runValuesMutex;
std::map<std::string, std::string> runValues;

std::string RunValueKey(const char* section, const char* key) {
    std::string text = std::string(section) + "\n" + key;
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// A settings file is taken only when every line is one SimpleIni understands: blank, a
// comment, a section or "key=value". SimpleIni would pass over any other line, and stop at a
// NUL byte, in silence; such a file is damaged (or not a settings file at all), and a write
// would save only what was understood of it.
std::optional<std::string> IniTextProblem(const std::string& bytes) {
    std::size_t start = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    for (int lineNumber = 1; start < bytes.size(); ++lineNumber) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string::npos) end = bytes.size();
        const std::string_view line = std::string_view(bytes).substr(start, end - start);
        if (line.find('\0') != std::string_view::npos) {
            return Format(Tr("NUL byte on line %d", "octet NUL ligne %d"), lineNumber);
        }
        const std::size_t first = line.find_first_not_of(" \t");
        const bool understood = first == std::string_view::npos || line[first] == ';' ||
                                line[first] == '#' ||
                                (line[first] == '[' && line.find(']', first) != line.npos) ||
                                (line[first] != '=' && line.find('=', first) != line.npos);
        if (!understood) {
            return Format(Tr("line %d is neither a section, a setting nor a comment",
                             "ligne %d ni section, ni réglage, ni commentaire"),
                          lineNumber);
        }
        // A CR LF pair ends one line, not two.
        start = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return std::nullopt;
}

enum class IniFileState { Read, Missing, Damaged };

struct IniFileContent {
    IniFileState state = IniFileState::Missing;
    std::string bytes;
    std::string problem;  // why a damaged file cannot be used
};

IniFileContent ReadIniFile(const std::string& path) {
    // Non-blocking, so that a pipe standing in the file's place is refused, not waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return {};
        return {IniFileState::Damaged, {}, SystemErrorText(errno)};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {IniFileState::Damaged, {}, Tr("not a plain file", "pas un fichier ordinaire")};
    }
    IniFileContent content{IniFileState::Read, {}, {}};
    char block[4096];
    for (;;) {
        const ssize_t count = ::read(fd, block, sizeof block);
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            content = {IniFileState::Damaged, {}, SystemErrorText(errno)};
            break;
        }
        content.bytes.append(block, static_cast<std::size_t>(count));
    }
    ::close(fd);
    if (content.state == IniFileState::Read) {
        if (auto problem = IniTextProblem(content.bytes)) {
            content = {IniFileState::Damaged, {}, std::move(*problem)};
        }
    }
    return content;
}

// "Torvane.ini.bad-YYYYMMDD-HHMMSS", with a number added if that name is taken already.
std::string KeptAsidePath(const std::string& path) {
    const std::string base = path + ".bad-" + TodayDateText() + "-" + NowTimeText();
    std::string candidate = base;
    for (int n = 2; PathExists(candidate); ++n) candidate = base + "-" + std::to_string(n);
    return candidate;
}

// A damaged file is kept for the operator under another name, and the program goes on with
// the defaults (a file created afresh by the next write). When it cannot even be moved, it is
// left untouched: settings are neither read from it nor written over it for the rest of the
// run.
void KeepDamagedFileAside(const std::string& path, const std::string& problem) {
    const std::string aside = KeptAsidePath(path);
    if (::rename(path.c_str(), aside.c_str()) == 0) {
        LogEvenBeforeStart(
            0, Format(Tr("$$$ Settings file unreadable (%s): kept as %s; default settings used",
                         "$$$ Fichier de réglages illisible (%s) : conservé sous %s ; réglages "
                         "par défaut utilisés"),
                      problem.c_str(), aside.c_str()));
        return;
    }
    const std::string reason = SystemErrorText(errno);
    {
        std::lock_guard lock(pathsMutex);
        settingsFileBlocked = true;
    }
    LogEvenBeforeStart(
        0, Format(Tr("$$$ Settings file unreadable (%s) and not kept aside (%s): default settings "
                     "used, none saved",
                     "$$$ Fichier de réglages illisible (%s) et non mis de côté (%s) : réglages "
                     "par défaut utilisés, aucun enregistré"),
                  problem.c_str(), reason.c_str()));
}

bool SettingsFileBlocked() {
    std::lock_guard lock(pathsMutex);
    return settingsFileBlocked;
}

// False when the settings file is out of use for this run (damaged and impossible to move).
bool LoadIni(CSimpleIniA& ini) {
    ini.SetUnicode(false);
    ini.SetSpaces(false);
    ini.SetMultiKey(false);
    if (SettingsFileBlocked()) return false;
    const std::string path = GetIniPath();
    const IniFileContent content = ReadIniFile(path);
    switch (content.state) {
        case IniFileState::Missing:
            return true;
        case IniFileState::Damaged:
            KeepDamagedFileAside(path, content.problem);
            return !SettingsFileBlocked();
        case IniFileState::Read:
            break;
    }
    return ini.LoadData(content.bytes) >= 0;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

// Writes the file whole or not at all: into a temporary file beside it, flushed to the disk,
// then renamed over it, so a power cut or a full disk leaves the old file or the new one, never
// part of one. Empty on success, the system's reason otherwise.
std::string ReplaceFileWhole(const std::string& path, const std::string& bytes) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return SystemErrorText(errno);
    // The new file keeps the old one's permissions; a first file is the user's alone (0600).
    struct stat old {};
    const bool permitted =
        ::stat(path.c_str(), &old) != 0 || ::fchmod(fd, old.st_mode & 07777) == 0;
    const bool written = permitted && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = written ? errno : writeError;
        ::unlink(temporary.c_str());
        return SystemErrorText(error != 0 ? error : EIO);
    }
    // The rename itself reaches the disk with its folder.
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    if (const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

// The first failure of a run of them is logged.
void SaveIni(const CSimpleIniA& ini) {
    static bool saveFailing = false;
    std::string text;
    ini.Save(text);
    const std::string failure = ReplaceFileWhole(GetIniPath(), text);
    if (failure.empty()) {
        saveFailing = false;
        return;
    }
    if (saveFailing) return;
    saveFailing = true;
    LogEvenBeforeStart(
        0, Format(Tr("$$$ Settings not saved (%s)", "$$$ Réglages non enregistrés (%s)"),
                  failure.c_str()));
}

void WriteValue(const char* section, const char* key, const std::string& value) {
    {
        std::lock_guard lock(runValuesMutex);
        const auto run = runValues.find(RunValueKey(section, key));
        if (run != runValues.end()) {
            if (run->second == value) return;
            runValues.erase(run);
        }
    }
    CSimpleIniA ini;
    if (!LoadIni(ini)) return;
    // A value the file already holds is not written again: each save flushes the file and its
    // folder to the disk, which on a slow disk holds the window thread for tens of ms.
    const char* stored = ini.GetValue(section, key);
    if (stored && value == stored) return;
    ini.SetValue(section, key, value.c_str());
    SaveIni(ini);
}

std::optional<std::string> ReadValue(const char* section, const char* key) {
    {
        std::lock_guard lock(runValuesMutex);
        const auto run = runValues.find(RunValueKey(section, key));
        if (run != runValues.end()) return run->second;
    }
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
        if (dataFolderForRun) return *dataFolderForRun;
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
    settingsFileBlocked = false;
}

std::string UseDataFolderForRun(const std::string& folder) {
    errno = 0;
    if (!MakeDirectories(folder)) return SystemErrorText(errno != 0 ? errno : ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return SystemErrorText(errno);
    std::lock_guard lock(pathsMutex);
    dataFolderForRun = folder;
    iniPath.reset();
    return {};
}

void SetIniValueForRun(const char* section, const char* key, const std::string& value) {
    std::lock_guard lock(runValuesMutex);
    runValues[RunValueKey(section, key)] = value;
}

void ResetSettingsPathsForTesting() {
    {
        std::lock_guard lock(runValuesMutex);
        runValues.clear();
    }
    std::lock_guard lock(pathsMutex);
    useProgramFolderMarker.reset();
    iniPath.reset();
    dataFolderForRun.reset();
    settingsFileBlocked = false;
}

}  // namespace torvane
