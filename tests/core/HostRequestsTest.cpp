#include "delivery/HostRequests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvane {
namespace {

TEST(HostRequestsTest, QueryBurstInSendingOrder) {
    const std::vector<std::string> burst(kHostQueryBurst.begin(), kHostQueryBurst.end());
    const std::vector<std::string> expected = {
        "GetMode()",    "GetUserName()",         "GetCompetitionName()", "GetFilename()",
        "GetVersion()", "GetPrintableVersion()", "GetDetectorList()"};
    EXPECT_EQ(burst, expected);
    EXPECT_EQ(std::string(kHostPing), "Ping()");
}

struct NumberedCase {
    std::string box;
    int bib;
    std::string raceTime;
    std::string command;
};

TEST(HostRequestsTest, NumberedDetectionCommand) {
    const std::vector<NumberedCase> cases = {
        {"Box1", 123, "10:11:12.34", "AddDagClock(1\tBox1\t123\t1\t10:11:12.34)"},
        {"Arrivée 2", 0, "25:00:00.00", "AddDagClock(1\tArrivée 2\t0\t1\t25:00:00.00)"},
        {"", -7, "", "AddDagClock(1\t\t-7\t1\t)"},
    };
    for (const NumberedCase& testCase : cases) {
        EXPECT_EQ(BuildNumberedDetectionCommand(testCase.box, testCase.bib, testCase.raceTime),
                  testCase.command);
    }
}

struct TextualCase {
    std::string box;
    std::string bibText;
    std::string raceTime;
    std::string command;
};

TEST(HostRequestsTest, TextualDetectionCommand) {
    const std::vector<TextualCase> cases = {
        {"Box1", "KX12345", "09:00:01.50", "AddDagClock(1\tBox1\tKX12345\t1\t09:00:01.50)"},
        {"Manuel", "0042", "48:59:59.99", "AddDagClock(1\tManuel\t0042\t1\t48:59:59.99)"},
        {"B", "%d%s", "1", "AddDagClock(1\tB\t%d%s\t1\t1)"},
    };
    for (const TextualCase& testCase : cases) {
        EXPECT_EQ(BuildTextualDetectionCommand(testCase.box, testCase.bibText, testCase.raceTime),
                  testCase.command);
    }
}

}  // namespace
}  // namespace torvane
