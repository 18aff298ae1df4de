#include <gtest/gtest.h>

#include <climits>

#include "base/Chrono.h"
#include "base/Texts.h"

namespace torvane {
namespace {

// The texts written without printf for every passing are exactly what printf writes.
TEST(AppendNumberTest, WritesWhatPrintfWrites) {
    const long values[] = {0,    1,     7,  9,  10,  42,   99,       100,      123,     999,
                           1000, 65535, -1, -5, -42, -100, LONG_MAX, LONG_MIN, INT_MAX, INT_MIN};
    for (const long value : values) {
        for (const int digits : {1, 2, 3, 5}) {
            std::string text = "x";
            AppendNumber(text, value, digits);
            const std::string expected = Format("x%0*ld", digits, value);
            EXPECT_EQ(text, expected) << value << " " << digits;
        }
    }
}

TEST(AppendNumberTest, RaceTimesAreWrittenAsPrintfWroteThem) {
    const struct {
        std::int32_t seconds;
        std::uint16_t milliseconds;
    } times[] = {
        {0, 1},      {1, 0},           {59, 999}, {3600, 10},   {86399, 990},  {4 * 86400 + 1, 5},
        {360000, 0}, {INT32_MAX, 999}, {-1, 0},   {-3661, 120}, {INT32_MIN, 0}};
    for (const auto& time : times) {
        const CChrono chrono(time.seconds, time.milliseconds);
        if (!chrono.IsSet()) continue;
        EXPECT_EQ(chrono.FormatElapsed(),
                  Format("%02ld:%02ld:%02ld.%02d", static_cast<long>(time.seconds / 3600),
                         static_cast<long>((time.seconds % 3600) / 60),
                         static_cast<long>(time.seconds % 60), time.milliseconds / 10))
            << time.seconds;
    }
}

}  // namespace
}  // namespace torvane
