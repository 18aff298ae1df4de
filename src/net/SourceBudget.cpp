#include "net/SourceBudget.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace torvane {

SourceBudget::SourceBudget() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SourceBudget::~SourceBudget() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void SourceBudget::Take(std::size_t bytes, std::size_t passings) {
    bytes_ += static_cast<std::int64_t>(bytes);
    passings_ += static_cast<std::int64_t>(passings);
}

namespace {

bool UnderHalf(std::int64_t bytes, std::int64_t passings) {
    return bytes <= SourceBudget::kMaxBytes / 2 && passings <= SourceBudget::kMaxPassings / 2;
}

}  // namespace

void SourceBudget::Release(std::size_t bytes, std::size_t passings) {
    const std::int64_t bytesLeft = bytes_ -= static_cast<std::int64_t>(bytes);
    const std::int64_t passingsLeft = passings_ -= static_cast<std::int64_t>(passings);
    // Only a paused reader needs waking: no system call per message otherwise.
    if (paused_ && UnderHalf(bytesLeft, passingsLeft) && paused_.exchange(false)) Wake();
}

bool SourceBudget::ShouldPause() {
    if (paused_) {
        if (!UnderHalf(bytes_, passings_)) return true;
        paused_ = false;
        return false;
    }
    if (bytes_ <= kMaxBytes && passings_ <= kMaxPassings) return false;
    paused_ = true;
    // Work released between the test and the flag would wake nobody: look once more.
    if (UnderHalf(bytes_, passings_)) paused_ = false;
    return paused_;
}

void SourceBudget::Wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void SourceBudget::ClearWake() const {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &count, sizeof count);
}

}  // namespace torvane
