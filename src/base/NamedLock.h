#pragma once

#include <optional>
#include <string>

namespace torvane {

// Where the lock file of a named lock lives: $XDG_RUNTIME_DIR, or else a folder of this user's
// own with mode 0700 ("torvane-<uid>" in $TMPDIR or /tmp, made when missing). Nothing when no
// such place can be had (the fallback folder belongs to someone else, is a link, or cannot be
// made private).
std::optional<std::string> NamedLockPath(const std::string& name);

// A lock shared by name between processes: an exclusive flock on a file of mode 0600 in a private
// folder. Creation failures are not reported; such a lock is not usable.
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
    bool IsUsable() const { return mutex_.Handle() >= 0; }
    // One try that never waits: true when the lock is now held.
    bool TryLock();
    bool Unlock();
    const std::string& Name() const { return name_; }

private:
    CEGalMutex mutex_;
    std::string name_;
};

}  // namespace torvane
