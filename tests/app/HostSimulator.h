#pragma once

// ostrak-sim as a child process, on a port of its own choosing, killed with the object.

#include <QProcess>
#include <string>

namespace torvane::test {

class HostSimulator {
public:
    HostSimulator() = default;
    HostSimulator(const HostSimulator&) = delete;
    HostSimulator& operator=(const HostSimulator&) = delete;
    ~HostSimulator();

    // Starts it with its request log and runners file (none: every runner unknown), on the
    // given port or one of its own choosing; true once it listens.
    bool Start(const std::string& logPath, const std::string& runnersPath, int port = 0);
    void Stop();
    int Port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};

}  // namespace torvane::test
