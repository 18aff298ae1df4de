#pragma once

#include <string>

// The settings file "Torvane.ini": every read and every write goes to the file at once.
namespace torvane {

struct IniRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const IniRect&) const = default;
};

int ReadIniInt(const char* section, const char* key, int defaultValue);
void WriteIniInt(const char* section, const char* key, int value);
std::string ReadIniString(const char* section, const char* key, const std::string& defaultValue);
void WriteIniString(const char* section, const char* key, const std::string& value);
bool ReadIniBool(const char* section, const char* key, bool defaultValue);
void WriteIniBool(const char* section, const char* key, bool value);
IniRect ReadIniRect(const char* section, const char* key, const IniRect& defaultValue);
void WriteIniRect(const char* section, const char* key, const IniRect& rect);

// Folder of the running executable, without a trailing "/".
std::string GetProgramFolder();
// Data folder (created with its parents); empty text when it cannot be created.
std::string GetDataFolder();
// Settings file path, fixed on first use for the whole run.
std::string GetIniPath();
bool MakeDirectories(const std::string& path);

// The loopback host name of the local machine, default of "Ostrak"/"Host".
std::string LoopbackHostName();

// For one run (torvane --data-dir): the data folder, made when missing. Empty on success, the
// system's reason otherwise.
std::string UseDataFolderForRun(const std::string& folder);
// For one run: a setting read in place of the file's value and never written to the file. A write
// of another value (the operator's own) ends it and goes to the file.
void SetIniValueForRun(const char* section, const char* key, const std::string& value);

// Tests point the program folder elsewhere and forget every remembered folder and path.
void SetProgramFolderForTesting(const std::string& folder);
void ResetSettingsPathsForTesting();

}  // namespace torvane
