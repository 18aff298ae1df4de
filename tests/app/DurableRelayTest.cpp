// The benchmark's durable yardstick must keep the promise it stands for: no acknowledgement
// before its burst is flushed. The slow-flush library makes the flush long enough to see.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <regex>

#include "TorvaneProcess.h"
#include "support/LoopbackSockets.h"

namespace torvane::test {
namespace {

struct FlushCase {
    const char* setting;  // SLOW_FLUSH_MS
    int leastWaitMs;      // the slowed flush that comes before the acknowledgement
    const char* warning;  // what the library says about the setting, or ""
};

class DurableRelayTest : public ::testing::TestWithParam<FlushCase> {};

TEST_P(DurableRelayTest, AcknowledgesOnlyOnceTheBurstIsFlushed) {
    QTemporaryDir folder;
    const QString ring = folder.filePath("bursts");
    WriteWholeFile(folder.filePath("chips").toStdString(), "KV00001 7\n");
    SocketFd host = ListenOnLoopback();
    QProcess relay;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    PreloadLibrary(environment, ToolPath("slow-flush.so"));
    environment.insert("SLOW_FLUSH_MS", GetParam().setting);
    relay.setProcessEnvironment(environment);
    relay.start(
        QString::fromStdString(ToolPath("baseline-relay")),
        {"--durable", ring, "0", QString::number(LocalPort(host.Get())), folder.filePath("chips")});
    ASSERT_TRUE(relay.waitForReadyRead(10000)) << relay.readAllStandardError().toStdString();
    std::smatch port;
    const std::string said = relay.readAllStandardOutput().toStdString();
    ASSERT_TRUE(std::regex_search(said, port, std::regex("listening on port (\\d+)"))) << said;
    SocketFd hostLink = AcceptWithin(host.Get());
    SocketFd source = ConnectToLoopback(std::stoi(port[1]));

    const std::string store = "Src@Store@KV0000110:00:01.500@42$";
    const std::string ack = "Bag@AckStore@42$";
    QElapsedTimer sent;
    sent.start();
    ASSERT_TRUE(SendBytes(source.Get(), store));
    std::string answer;
    ASSERT_TRUE(ReceiveAtLeast(source.Get(), answer, ack.size(), 10000));
    EXPECT_GE(sent.elapsed(), GetParam().leastWaitMs);
    EXPECT_EQ(answer, ack);
    EXPECT_EQ(ReadWholeFile(ring.toStdString()).rfind(store, 0), 0u);
    std::string line;
    EXPECT_TRUE(ReceiveAtLeast(hostLink.Get(), line, 1));
    EXPECT_EQ(line.rfind("AddDagClock(1\tSrc\t7\t1\t10:00:01.50)\r\n", 0), 0u) << line;

    relay.terminate();
    ASSERT_TRUE(relay.waitForFinished(5000));
    EXPECT_NE(relay.readAllStandardError().toStdString().find(GetParam().warning),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, DurableRelayTest,
    ::testing::Values(FlushCase{"300", 300, ""},
                      FlushCase{"soon", 20, "slow-flush: SLOW_FLUSH_MS=soon is not 0 to 60000 ms"},
                      FlushCase{"", 20, ""}));

}  // namespace
}  // namespace torvane::test
