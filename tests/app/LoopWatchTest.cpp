#include "app/shell/LoopWatch.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace torvane {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void TurnFor(std::chrono::milliseconds span) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < span.count()) QCoreApplication::processEvents();
}

// A handler that keeps the thread for 40 ms shows as one gap of at least that, noted with the
// time it ended; the turns around it are counted.
TEST(LoopWatchTest, AHandlerThatHoldsTheThreadIsTheLongestGap) {
    QTemporaryDir folder;
    const std::string path = folder.filePath("watch.txt").toStdString();
    const auto before = std::chrono::steady_clock::now().time_since_epoch().count();
    {
        LoopWatch watch(path);
        TurnFor(20ms);
        std::this_thread::sleep_for(40ms);
        TurnFor(20ms);
        EXPECT_GE(watch.Longest(), 40ms);
    }
    std::istringstream text(ReadFile(path));
    std::string word;
    double longestMs = 0;
    long long ticks = 0;
    text >> word >> longestMs;
    EXPECT_EQ(word, "longest_gap_ms");
    EXPECT_GE(longestMs, 40.0);
    text >> word >> ticks;
    EXPECT_EQ(word, "ticks");
    EXPECT_GT(ticks, 1);
    text >> word >> ticks;
    EXPECT_EQ(word, "unnoted_gaps");
    bool noted = false;
    long long endNs = 0;
    long long lengthNs = 0;
    while (text >> word >> endNs >> lengthNs) {
        EXPECT_EQ(word, "gap");
        EXPECT_GE(lengthNs, 2'000'000);
        EXPECT_GT(endNs, before);
        noted = noted || lengthNs >= 40'000'000;
    }
    EXPECT_TRUE(noted) << ReadFile(path);
}

TEST(LoopWatchTest, OnlyTheVariableStartsIt) {
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        if (value) {
            setenv(LoopWatch::kVariable, value, 1);
        } else {
            unsetenv(LoopWatch::kVariable);
        }
        EXPECT_EQ(LoopWatch::FromEnvironment(), nullptr);
    }
    QTemporaryDir folder;
    const std::string path = folder.filePath("watch.txt").toStdString();
    setenv(LoopWatch::kVariable, path.c_str(), 1);
    EXPECT_NE(LoopWatch::FromEnvironment(), nullptr);
    unsetenv(LoopWatch::kVariable);
    EXPECT_NE(ReadFile(path).find("longest_gap_ms "), std::string::npos);
}

TEST(LoopWatchTest, AFileThatCannotBeWrittenIsSaidOnStandardError) {
    testing::internal::CaptureStderr();
    { LoopWatch watch("/nonexistent-folder/watch.txt"); }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("TORVANE_LOOP_WATCH: cannot write /nonexistent-folder/watch.txt"),
              std::string::npos)
        << said;
}

}  // namespace
}  // namespace torvane
