#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "app/OperatorCommands.h"
#include "base/Texts.h"
#include "support/CoreHarness.h"
#include "support/LoopbackSockets.h"

namespace torvane {
namespace {

using test::CoreHarness;

// A port the core cannot listen on: why goes to the log before the listener's box, and the
// terminal's status no longer claims to wait for a source.
struct FailureCase {
    const char* name;
    bool busy;  // another program listens on the port; otherwise the port is out of range
    Language language;
    const char* line;  // printf format, with the port and the system's reason
    int error;
};

// Test names show the case's name, not its bytes.
void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class ListenerStartFailureTest : public ::testing::TestWithParam<FailureCase> {
protected:
    void TearDown() override { SetLanguage(Language::French); }
};

TEST_P(ListenerStartFailureTest, LogsThePortAndTheReasonThenShowsTheBox) {
    const FailureCase& c = GetParam();
    SetLanguage(c.language);
    CoreHarness harness;
    harness.core().AttachMessageTarget();
    test::SocketFd occupant = test::ListenOnLoopback(0, 4, false);
    const int port = c.busy ? test::LocalPort(occupant.Get()) : 70000;

    EXPECT_EQ(harness.core().StartListener(port), -1);
    test::DeliverPosted();

    char line[200];
    std::snprintf(line, sizeof line, c.line, port, std::strerror(c.error));
    EXPECT_EQ(harness.ShownLog(), std::vector<std::string>{line});
    EXPECT_EQ(harness.dialogs.messages, std::vector<std::string>{"Error calling bind()"});
    EXPECT_FALSE(harness.core().Listener().IsListening());

    std::vector<std::string> printed;
    TypedManualDetection typed([](const std::string&) {});
    OperatorCommands commands(
        harness.core(), typed, [&](const std::string& text) { printed.push_back(text); }, [] {});
    commands.Execute("status");
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_EQ(printed[0].rfind(Tr("MyLaps: not listening (the port could not be opened)\n",
                                  "MyLaps : pas à l'écoute (le port n'a pas pu être ouvert)\n"),
                               0),
              0u)
        << printed[0];
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListenerStartFailureTest,
    ::testing::Values(FailureCase{"BusyFrench", true, Language::French,
                                  "$$$ Le port MyLaps %d est déjà utilisé (%s)", EADDRINUSE},
                      FailureCase{"BusyEnglish", true, Language::English,
                                  "$$$ MyLaps port %d is already in use (%s)", EADDRINUSE},
                      FailureCase{"OutOfRange", false, Language::French,
                                  "$$$ Le port MyLaps %d est inutilisable (%s)", EINVAL}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ListenerStartTest, AStartedListenerLeavesNoLineAndNoBox) {
    CoreHarness harness;
    harness.core().AttachMessageTarget();
    EXPECT_EQ(harness.core().StartListener(0), 0);
    test::DeliverPosted();
    EXPECT_TRUE(harness.ShownLog().empty());
    EXPECT_TRUE(harness.dialogs.messages.empty());
}

}  // namespace
}  // namespace torvane
