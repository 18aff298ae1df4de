#pragma once

#include <string>

namespace torvane {

// One Torvane per user and machine: an exclusive lock on "Torvane.mtx" in the runtime folder,
// held for the life of the process. The file holds the owner's process id. A run on a data folder
// of its own (--data-dir) takes the lock in that folder instead, so that a rehearsal runs beside
// the race and two runs never share a folder.
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
    // The lock of the runs on this data folder.
    static void LockInFolder(const std::string& folder);

private:
    int fd_ = -1;
};

}  // namespace torvane
