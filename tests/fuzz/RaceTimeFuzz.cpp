// Race times: a parsed time prints back to a text that parses to the same time (to the
// hundredth); a failed parse leaves the value alone; whole days are added exactly or refused.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <limits>
#include <string>

#include "FuzzCheck.h"
#include "base/Chrono.h"

namespace torvane::fuzz {
namespace {

const CChrono kUntouched(777, 42);

void CheckPrintsBack(const CChrono& value) {
    FUZZ_CHECK(value.seconds >= 0);
    FUZZ_CHECK(value.milliseconds < 1000);
    const std::string text = value.FormatElapsed();
    CChrono again;
    FUZZ_CHECK(again.ParseTime(text));
    FUZZ_CHECK(again.seconds == value.seconds);
    FUZZ_CHECK(again.milliseconds == value.milliseconds / 10 * 10);
    FUZZ_CHECK(again.FormatElapsed() == text);
}

void CheckParse(const std::string& text, bool (CChrono::*parse)(const std::string&)) {
    CChrono value = kUntouched;
    if (!(value.*parse)(text)) {
        FUZZ_CHECK(value.seconds == kUntouched.seconds);
        FUZZ_CHECK(value.milliseconds == kUntouched.milliseconds);
        return;
    }
    CheckPrintsBack(value);
}

void CheckAddDays(const CChrono& start, int days) {
    CChrono value = start;
    const std::int64_t sum = static_cast<std::int64_t>(start.seconds) + std::int64_t{days} * 86400;
    const bool fits = sum <= std::numeric_limits<std::int32_t>::max() &&
                      sum >= std::numeric_limits<std::int32_t>::min();
    FUZZ_CHECK(value.AddDays(days) == fits);
    FUZZ_CHECK(value.seconds == (fits ? sum : start.seconds));
    FUZZ_CHECK(value.milliseconds == start.milliseconds);
}

}  // namespace
}  // namespace torvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane;
    using namespace torvane::fuzz;
    FuzzedDataProvider input(data, size);
    const auto seconds =
        input.ConsumeIntegralInRange<std::int32_t>(0, std::numeric_limits<std::int32_t>::max());
    const auto milliseconds = input.ConsumeIntegralInRange<std::uint16_t>(0, 999);
    const int days = input.ConsumeIntegralInRange<int>(-4, 4);
    const std::string text = input.ConsumeRemainingBytesAsString();

    CheckParse(text, &CChrono::ParseTime);
    CheckParse(text, &CChrono::ParseMilliTime);
    CheckPrintsBack(CChrono(seconds, milliseconds));
    CheckAddDays(CChrono(seconds, milliseconds), days);
    CChrono parsed;
    if (parsed.ParseTime(text)) CheckAddDays(parsed, days);
    return 0;
}
