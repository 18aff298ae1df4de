// slow-flush: a disk whose flush is slow (a USB stick, an SD card, a busy laptop disk), for the
// benchmark. Loaded with LD_PRELOAD, it makes every fdatasync and fsync of the program sleep
// SLOW_FLUSH_MS milliseconds (20 by default) before the real call. SQLite is a shared library
// on Debian, so the journal's flushes go through here too.

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr int kDefaultMs = 20;
constexpr int kMostMs = 60000;

int ReadDelayMs() {
    const char* text = std::getenv("SLOW_FLUSH_MS");
    if (!text || !*text) return kDefaultMs;
    int ms = -1;
    const char* end = text + std::strlen(text);
    const auto [at, error] = std::from_chars(text, end, ms);
    if (error != std::errc() || at != end || ms < 0 || ms > kMostMs) {
        std::fprintf(stderr, "slow-flush: SLOW_FLUSH_MS=%s is not 0 to %d ms; %d ms it is\n", text,
                     kMostMs, kDefaultMs);
        return kDefaultMs;
    }
    return ms;
}

void Wait() {
    static const int delayMs = ReadDelayMs();
    // sleep_for resumes after a signal, so every flush takes at least the delay.
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
}

using Flush = int (*)(int);

Flush Next(const char* name) {
    return reinterpret_cast<Flush>(::dlsym(RTLD_NEXT, name));
}

int Call(Flush real, int fd) {
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    return real(fd);
}

}  // namespace

extern "C" int fdatasync(int fd) {
    static const Flush real = Next("fdatasync");
    Wait();
    return Call(real, fd);
}

extern "C" int fsync(int fd) {
    static const Flush real = Next("fsync");
    Wait();
    return Call(real, fd);
}
