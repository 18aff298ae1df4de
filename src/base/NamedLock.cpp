#include "base/NamedLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace torvane {

std::string RuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return runtime;
    return "/tmp";
}

CEGalMutex::CEGalMutex(const std::string& name) {
    const std::string path =
        RuntimeFolder() + "/Torvane-" + name + "-" + std::to_string(::getuid()) + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

CEGalMutex::~CEGalMutex() {
    if (fd_ >= 0) ::close(fd_);
}

bool CResourceMutex::Lock(int timeoutMs) {
    if (mutex_.Handle() < 0) return false;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    while (::flock(mutex_.Handle(), LOCK_EX | LOCK_NB) != 0) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (Clock::now() - start > std::chrono::milliseconds(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool CResourceMutex::Unlock() {
    return mutex_.Handle() >= 0 && ::flock(mutex_.Handle(), LOCK_UN) == 0;
}

}  // namespace torvane
