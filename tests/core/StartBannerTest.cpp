#include <gtest/gtest.h>

#include <locale.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif
#include <clocale>
#include <cstdlib>
#include <string>

#include "base/Clock.h"
#include "base/Logging.h"
#include "support/CoreHarness.h"

// The start banner names the day and the month in English, whatever locale the thread or the
// process uses, and without touching the process's locale (other threads format meanwhile).
namespace torvane {
namespace {

using test::CoreHarness;
using test::TempFolder;

// A French locale built into a temporary folder (the system may have none installed).
class FrenchLocale {
public:
    FrenchLocale() {
        const std::string command =
            "localedef -i fr_FR -f UTF-8 " + folder_.Path() + "/fr_FR.UTF-8 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return;
        ::setenv("LOCPATH", folder_.Path().c_str(), 1);
#if defined(__SANITIZE_ADDRESS__)
        // The C library keeps the list of locale folders it was given for good.
        __lsan_disable();
#endif
        locale_ = ::newlocale(LC_ALL_MASK, "fr_FR.UTF-8", nullptr);
#if defined(__SANITIZE_ADDRESS__)
        __lsan_enable();
#endif
        ::unsetenv("LOCPATH");
    }
    ~FrenchLocale() {
        if (locale_) ::freelocale(locale_);
    }
    locale_t Get() const {
        return locale_;
    }

private:
    TempFolder folder_;
    locale_t locale_ = nullptr;
};

// The banner line of a run started at 14:03:27 on the given day, in a French thread.
std::string BannerLineOn(const FrenchLocale& french, int year, int month, int day) {
    CoreHarness harness;
    clock::SetNowForTesting({clock::MakeLocal(year, month, day, 14, 3, 27), 0});
    const locale_t previous = ::uselocale(french.Get());
    const std::string processLocale = std::setlocale(LC_TIME, nullptr);
    WriteStartBanner();
    EXPECT_EQ(std::setlocale(LC_TIME, nullptr), processLocale);
    ::uselocale(previous);
    clock::UseSystemClock();

    const std::string file = harness.LogFile();
    const std::string start = "Started ";
    const auto at = file.find(start);
    if (at == std::string::npos) return file;
    return file.substr(at + start.size(), file.find('\n', at) - at - start.size());
}

TEST(StartBannerTest, DayAndMonthNamesAreEnglishInAFrenchThread) {
    const FrenchLocale french;
    if (!french.Get()) GTEST_SKIP() << "no French locale can be built here (localedef, locales)";
    const struct {
        int month, day;
        const char* expected;
    } cases[] = {
        {1, 5, "Monday, January 05, 2026  at 14h03mn27s"},
        {2, 3, "Tuesday, February 03, 2026  at 14h03mn27s"},
        {3, 4, "Wednesday, March 04, 2026  at 14h03mn27s"},
        {4, 2, "Thursday, April 02, 2026  at 14h03mn27s"},
        {5, 1, "Friday, May 01, 2026  at 14h03mn27s"},
        {6, 6, "Saturday, June 06, 2026  at 14h03mn27s"},
        {7, 5, "Sunday, July 05, 2026  at 14h03mn27s"},
        {8, 10, "Monday, August 10, 2026  at 14h03mn27s"},
        {9, 15, "Tuesday, September 15, 2026  at 14h03mn27s"},
        {10, 25, "Sunday, October 25, 2026  at 14h03mn27s"},
        {11, 1, "Sunday, November 01, 2026  at 14h03mn27s"},
        {12, 31, "Thursday, December 31, 2026  at 14h03mn27s"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BannerLineOn(french, 2026, c.month, c.day), c.expected);
    }
}

}  // namespace
}  // namespace torvane
