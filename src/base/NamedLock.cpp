#include "base/NamedLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace torvane {
namespace {

std::string EnvironmentFolder(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value ? value : "";
}

// A folder of this user's own that nobody else may enter: made with mode 0700 when missing,
// narrowed to 0700 when it is ours but wider. A link, or a folder of another user, is refused.
bool MakePrivateFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
    const bool usable = ours && ((st.st_mode & 0777) == 0700 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return usable;
}

std::optional<std::string> PrivateLockFolder() {
    if (std::string runtime = EnvironmentFolder("XDG_RUNTIME_DIR"); !runtime.empty())
        return runtime;
    std::string temporary = EnvironmentFolder("TMPDIR");
    if (temporary.empty()) temporary = "/tmp";
    const std::string folder = temporary + "/torvane-" + std::to_string(::geteuid());
    if (!MakePrivateFolder(folder)) return std::nullopt;
    return folder;
}

}  // namespace

std::optional<std::string> NamedLockPath(const std::string& name) {
    const auto folder = PrivateLockFolder();
    if (!folder) return std::nullopt;
    return *folder + "/Torvane-" + name + "-" + std::to_string(::geteuid()) + ".lock";
}

CEGalMutex::CEGalMutex(const std::string& name) {
    const auto path = NamedLockPath(name);
    if (!path) return;
    fd_ = ::open(path->c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    // A file left by an earlier version may be open to everyone: it becomes ours alone.
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        ((st.st_mode & 0077) != 0 && ::fchmod(fd_, 0600) != 0)) {
        ::close(fd_);
        fd_ = -1;
    }
}

CEGalMutex::~CEGalMutex() {
    if (fd_ >= 0) ::close(fd_);
}

bool CResourceMutex::TryLock() {
    return IsUsable() && ::flock(mutex_.Handle(), LOCK_EX | LOCK_NB) == 0;
}

bool CResourceMutex::Unlock() {
    return IsUsable() && ::flock(mutex_.Handle(), LOCK_UN) == 0;
}

}  // namespace torvane
