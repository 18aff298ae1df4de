#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "TorvaneProcess.h"

namespace torvane::test {
namespace {

// Another program listening on a loopback port of the system's choosing.
class PortOccupant {
public:
    PortOccupant() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 4);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~PortOccupant() { ::close(fd_); }
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

struct BusyPortCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* line;  // printf format of the log line, with the port and the reason
};

// Test names show the case's name, not its bytes.
void PrintTo(const BusyPortCase& c, std::ostream* out) {
    *out << c.name;
}

class BusyPortTest : public ::testing::TestWithParam<BusyPortCase> {};

// Headless, a deaf Torvane is of no use: it says why and ends with a failure, so that the
// service manager tries again.
TEST_P(BusyPortTest, HeadlessLogsThePortAndTheReasonThenExitsWithOne) {
    PortOccupant occupant;
    TorvaneProcess torvane;
    torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(occupant.Port()) + "\n");
    ASSERT_TRUE(torvane.Start(GetParam().arguments));
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_EQ(torvane.ExitStatus(), QProcess::NormalExit);
    EXPECT_EQ(torvane.ExitCode(), 1);

    char line[200];
    std::snprintf(line, sizeof line, GetParam().line, occupant.Port(), std::strerror(EADDRINUSE));
    const std::string log = ReadWholeFile(torvane.LogPath());
    const std::string last = std::string(": ") + line + "\n";
    ASSERT_GE(log.size(), last.size()) << log;
    EXPECT_EQ(log.substr(log.size() - last.size()), last) << log;
    EXPECT_NE(torvane.Output().find(line), std::string::npos) << torvane.Output();
}

INSTANTIATE_TEST_SUITE_P(
    Languages, BusyPortTest,
    ::testing::Values(
        BusyPortCase{"French", {"--headless"}, "$$$ Le port MyLaps %d est déjà utilisé (%s)"},
        BusyPortCase{"English",
                     {"--headless", "--lang", "en"},
                     "$$$ MyLaps port %d is already in use (%s)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DesktopBusyPortTest, LogsTheLineShowsTheBoxAndStaysUp) {
    PortOccupant occupant;
    TorvaneProcess torvane;
    torvane.WriteIni("[MyLaps]\nPort=" + std::to_string(occupant.Port()) + "\n");
    ASSERT_TRUE(torvane.Start());
    EXPECT_TRUE(torvane.WaitForLog("$$$ Le port MyLaps " + std::to_string(occupant.Port()) +
                                   " est déjà utilisé ("))
        << ReadWholeFile(torvane.LogPath());
    EXPECT_FALSE(torvane.WaitForExit(500));
    torvane.Signal(SIGTERM);
    ASSERT_TRUE(torvane.WaitForExit());
    EXPECT_EQ(torvane.ExitCode(), 0);
}

}  // namespace
}  // namespace torvane::test
