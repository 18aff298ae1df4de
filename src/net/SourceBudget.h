#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace torvane {

// The work one source has handed to the window thread and that is not done yet. Its reader
// stops reading from the socket while the work passes the high mark, so that TCP slows the
// source down instead of memory growing, and goes on once it is back under half of it. Taken
// by the reader, released by whichever thread ends the work; the reader's wake-up descriptor
// lives as long as the budget, so a late release never reaches a reused descriptor.
class SourceBudget {
public:
    static constexpr std::int64_t kMaxBytes = 4 * 1024 * 1024;
    static constexpr std::int64_t kMaxPassings = 20000;

    SourceBudget();
    ~SourceBudget();
    SourceBudget(const SourceBudget&) = delete;
    SourceBudget& operator=(const SourceBudget&) = delete;

    void Take(std::size_t bytes, std::size_t passings);
    // Wakes a paused reader once the work is back under half of the mark.
    void Release(std::size_t bytes, std::size_t passings);

    // The reader's decision before each read: pause above the mark, go on again under half.
    bool ShouldPause();

    // Readable when the reader should look again (work released, a reply queued, a stop).
    int WakeFd() const { return wakeFd_; }
    void Wake() const;
    void ClearWake() const;

private:
    int wakeFd_ = -1;
    std::atomic<std::int64_t> bytes_{0};
    std::atomic<std::int64_t> passings_{0};
    std::atomic<bool> paused_{false};
};

}  // namespace torvane
