#include <gtest/gtest.h>

#include "base/Texts.h"

namespace torvane {
namespace {

TEST(LanguageTest, OnlyTheTwoCodesNameALanguage) {
    const std::pair<const char*, std::optional<Language>> cases[] = {
        {"fr", Language::French},  {"FR", Language::French},  {" fr\r\n", Language::French},
        {"en", Language::English}, {"En", Language::English}, {"\ten ", Language::English},
        {"", std::nullopt},        {"de", std::nullopt},      {"french", std::nullopt},
        {"f", std::nullopt},       {"e n", std::nullopt},     {"fr-FR", std::nullopt},
    };
    for (const auto& [text, language] : cases) {
        EXPECT_EQ(ParseLanguage(text), language) << '"' << text << '"';
    }
    for (Language language : {Language::French, Language::English}) {
        EXPECT_EQ(ParseLanguage(LanguageCode(language)), language);
    }
}

TEST(LanguageTest, TextsFollowTheLanguageChosen) {
    ASSERT_EQ(CurrentLanguage(), Language::French);
    EXPECT_STREQ(Tr("open", "ouvert"), "ouvert");
    SetLanguage(Language::English);
    EXPECT_STREQ(Tr("open", "ouvert"), "open");
    EXPECT_EQ(CurrentLanguage(), Language::English);
    SetLanguage(Language::French);
    EXPECT_STREQ(Tr("open", "ouvert"), "ouvert");
}

}  // namespace
}  // namespace torvane
