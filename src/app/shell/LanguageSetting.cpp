#include "app/shell/LanguageSetting.h"

#include "base/SettingsStore.h"

namespace torvane {
namespace {

constexpr const char* kSection = "Torvane";
constexpr const char* kKey = "Language";

Language StoredLanguage() {
    return ParseLanguage(ReadIniString(kSection, kKey, "")).value_or(Language::French);
}

}  // namespace

Language ChooseLanguage(std::optional<Language> forThisRun) {
    return forThisRun ? *forThisRun : StoredLanguage();
}

void KeepLanguageSetting() {
    WriteIniString(kSection, kKey, LanguageCode(StoredLanguage()));
}

}  // namespace torvane
