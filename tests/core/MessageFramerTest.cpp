#include "net/MessageFramer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/CoreHarness.h"

namespace torvane {
namespace {

using test::CoreHarness;
using test::DeliverPosted;

struct OverlongCase {
    const char* name;
    std::string stream;  // more than the limit of 32 bytes without a "$"
    const char* line;
};

const OverlongCase kOverlongCases[] = {
    {"NamedSource", "Loop1@Store@" + std::string(40, 'p'),
     "$$$ Message MyLaps de Loop1 au-delà de 32 octets : connexion fermée"},
    {"AfterAWholeMessage", "Loop2@Ping@$Loop2@Store@" + std::string(40, 'p'),
     "$$$ Message MyLaps de Loop2 au-delà de 32 octets : connexion fermée"},
    {"ControlBytesInTheName", "Lo\r\nop\t@Store@" + std::string(40, 'p'),
     "$$$ Message MyLaps de Lo??op? au-delà de 32 octets : connexion fermée"},
    {"NoNameAtAll", std::string(40, 'x'),
     "$$$ Message MyLaps de ? au-delà de 32 octets : connexion fermée"},
    {"OverlongBeforeItsDollar", "Loop3@Store@" + std::string(40, 'p') + "$",
     "$$$ Message MyLaps de Loop3 au-delà de 32 octets : connexion fermée"},
};

class MessageFramerOverlongTest : public ::testing::TestWithParam<OverlongCase> {
protected:
    CoreHarness harness;
};

TEST_P(MessageFramerOverlongTest, TheOperatorIsToldOnceWhoseMessageWasTooLong) {
    MessageFramer framer(32);
    framer.Append(GetParam().stream.data(), GetParam().stream.size());
    std::string text;
    MessageFramer::Outcome outcome;
    while ((outcome = framer.Next(text)) == MessageFramer::Outcome::Message) {
    }
    EXPECT_EQ(outcome, MessageFramer::Outcome::TooLong);
    EXPECT_EQ(framer.Next(text), MessageFramer::Outcome::TooLong);
    DeliverPosted();
    EXPECT_EQ(harness.ShownLog(), (std::vector<std::string>{GetParam().line}));
}

INSTANTIATE_TEST_SUITE_P(Streams, MessageFramerOverlongTest, ::testing::ValuesIn(kOverlongCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvane
