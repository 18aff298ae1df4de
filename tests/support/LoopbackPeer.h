#pragma once

// Plain loopback sockets for tests that talk to the program over TCP. Every wait pumps the Qt
// event loop, so the program under test keeps handling its posted messages meanwhile.

#include <string>
#include <vector>

namespace torvane::test {

class TcpClient {
public:
    TcpClient() = default;
    explicit TcpClient(int port) { Connect(port); }
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool Connect(int port);
    bool Send(const std::string& bytes);
    // Reads until `received` holds `expected` or the time is up; returns whether it does.
    bool WaitFor(const std::string& expected, int timeoutMs = 5000);
    // Reads whatever arrives within the time.
    std::string ReadFor(int timeoutMs);
    // True once the peer has closed the connection (within the time).
    bool WaitForClose(int timeoutMs = 5000);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    std::string received;

private:
    void Pump();
    int fd_ = -1;
    bool peerClosed_ = false;
};

// A one-connection-at-a-time server standing in for the host.
class TcpServer {
public:
    TcpServer();  // listens on 127.0.0.1, port chosen by the system
    ~TcpServer();
    int Port() const { return port_; }
    bool WaitForConnection(int timeoutMs = 5000);
    bool Send(const std::string& bytes);
    // Waits until the received bytes hold `count` CR LF-ended lines; returns whether they do.
    bool WaitForLines(size_t count, int timeoutMs = 5000);
    std::vector<std::string> Lines() const;
    // Reads for the whole time; returns how many lines have arrived by then.
    size_t ReadForLines(int timeoutMs);
    void DropConnection();
    bool HasConnection() const { return client_ >= 0; }
    void StopListening();

    std::string received;

private:
    void Pump();
    int listener_ = -1;
    int client_ = -1;
    int port_ = 0;
};

}  // namespace torvane::test
