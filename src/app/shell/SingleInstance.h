#pragma once

#include <string>

namespace torvane {

// One Torvane per user and machine: an exclusive lock on "Torvane.mtx" in the runtime folder,
// held for the life of the process. The file holds the owner's process id.
class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another process holds the lock, or the lock file cannot be made.
    bool Acquire();
    // The process id of the instance that holds the lock (0 when unknown).
    static int RunningInstancePid();
    static std::string LockPath();

private:
    int fd_ = -1;
};

}  // namespace torvane
