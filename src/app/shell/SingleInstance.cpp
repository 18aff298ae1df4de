#include "app/shell/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace torvane {
namespace {

std::string lockFolder;

}  // namespace

void SingleInstance::LockInFolder(const std::string& folder) {
    lockFolder = folder;
}

std::string SingleInstance::LockPath() {
    if (!lockFolder.empty()) return lockFolder + "/Torvane.mtx";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return std::string(runtime) + "/Torvane.mtx";
    }
    return "/tmp/Torvane-" + std::to_string(::getuid()) + ".mtx";
}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) ::close(fd_);
}

bool SingleInstance::Acquire() {
    fd_ = ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return false;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd_, pid.data(), pid.size(), 0);
    }
    return true;
}

int SingleInstance::RunningInstancePid() {
    const int fd = ::open(LockPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char buffer[32] = {};
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    return n > 0 ? std::atoi(buffer) : 0;
}

}  // namespace torvane
