#pragma once

#include <optional>

#include "base/Texts.h"

namespace torvane {

// The language of this run: the one asked for on the command line, else the "Language"
// setting of [Torvane] ("fr" or "en"), else French.
Language ChooseLanguage(std::optional<Language> forThisRun);

// Writes the setting back as the language it gives: "fr" when it is missing or unknown.
void KeepLanguageSetting();

}  // namespace torvane
