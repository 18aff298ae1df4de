#pragma once

// A host of the test's own: it counts the lines it reads and can stop reading, or go away with
// lines unread in its socket, as a stalled or crashed Ostrak Pro would.

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace torvane::test {

class CountingHost {
public:
    // Listens on 127.0.0.1:port with a small receive buffer, so that a host that stops reading
    // soon stops the sender.
    explicit CountingHost(int port);
    ~CountingHost();
    CountingHost(const CountingHost&) = delete;
    CountingHost& operator=(const CountingHost&) = delete;

    void StopReading() { reading_ = false; }
    void ReadAgain() { reading_ = true; }
    // Closes the link with what it holds unread, which the sender's system sees as a reset.
    void DieWithUnreadLines() { die_ = true; }

    // How many times the host read each detection's chip.
    std::map<std::string, int> Detections() const;
    std::size_t DetectionCount() const;

private:
    void Serve();
    void Take(const char* bytes, std::size_t size);
    void EndConnection(int& client);

    int listener_ = -1;
    std::atomic<bool> reading_{true};
    std::atomic<bool> die_{false};
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::string partial_;
    std::map<std::string, int> seen_;
    std::size_t count_ = 0;
    std::thread thread_;
};

}  // namespace torvane::test
