#pragma once

#include <string>
#include <string_view>

namespace mylapssim {

// One non-blocking TCP connection with an outgoing buffer. Closing drops unsent bytes.
class TcpClient {
public:
    TcpClient() = default;
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;
    ~TcpClient() { Close(); }

    // Opens the connection (IPv4); empty on success, otherwise the reason.
    std::string Connect(const std::string& host, int port, int timeoutMs);
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // Appends to the outgoing buffer and sends what the socket takes at once.
    void Queue(std::string_view bytes);
    bool HasUnsent() const { return !outbox_.empty(); }

    // Sends buffered bytes; false when the link has failed (it is then closed).
    bool Flush();
    // Appends available bytes to `into`; false when the peer closed or the link failed.
    bool Read(std::string& into);
    void Close();

private:
    int fd_ = -1;
    std::string outbox_;
};

}  // namespace mylapssim
