#pragma once

#include <string>

namespace torvane {

// A lock shared by name between processes: an exclusive flock on a file in the runtime folder.
// Creation failures are not reported; such a lock is never obtained.
class CEGalMutex {
public:
    explicit CEGalMutex(const std::string& name);
    ~CEGalMutex();
    CEGalMutex(const CEGalMutex&) = delete;
    CEGalMutex& operator=(const CEGalMutex&) = delete;
    int Handle() const { return fd_; }

private:
    int fd_ = -1;
};

class CResourceMutex {
public:
    explicit CResourceMutex(const std::string& name) : mutex_(name), name_(name) {}
    // True when obtained within timeoutMs; after a wait of more than 2 ms it pauses 20 ms more.
    bool Lock(int timeoutMs);
    bool Unlock();
    const std::string& Name() const { return name_; }

private:
    CEGalMutex mutex_;
    std::string name_;
};

// The folder for per-user runtime files: $XDG_RUNTIME_DIR, or /tmp.
std::string RuntimeFolder();

}  // namespace torvane
