#pragma once

#include <cstddef>
#include <cstdint>

namespace torvane {

// Gives memory freed after a burst of work back to the system. The C library keeps freed
// memory for reuse, so after a flood the program would keep its largest size for ever; once the
// work has been quiet for a while, it is returned.
class MemoryReturn {
public:
    static constexpr std::size_t kWorkWorthReturning = 10000;
    static constexpr std::int64_t kQuietMs = 2000;

    void CountWork(std::size_t units, std::int64_t nowMs) {
        workSinceReturn_ += units;
        lastWorkMs_ = nowMs;
    }
    // Called now and then; returns whether memory was given back.
    bool ReturnIfQuiet(std::int64_t nowMs);

private:
    std::size_t workSinceReturn_ = 0;
    std::int64_t lastWorkMs_ = 0;
};

}  // namespace torvane
