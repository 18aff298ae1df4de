#include "base/MemoryReturn.h"

#include <malloc.h>

namespace torvane {

bool MemoryReturn::ReturnIfQuiet(std::int64_t nowMs) {
    if (workSinceReturn_ < kWorkWorthReturning || nowMs - lastWorkMs_ < kQuietMs) return false;
    workSinceReturn_ = 0;
    ::malloc_trim(0);
    return true;
}

}  // namespace torvane
