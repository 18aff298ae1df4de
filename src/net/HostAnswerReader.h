#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/PostedMessage.h"
#include "net/HostLineFramer.h"
#include "net/LinkEnd.h"

namespace torvane {

// The host's answers posted to the window thread and not handled yet. The link stops reading
// while they pass the mark, so that TCP slows a flooding host down instead of memory growing,
// and reads again once they are back under half of it. Shared by the link and the posted
// lines: its wake-up descriptor lives as long as the last line, so a late release never reaches
// a reused descriptor.
class HostAnswerBudget {
public:
    static constexpr std::int64_t kMaxBytes = 1024 * 1024;
    // What one posted line costs beyond its text: the payload, its string and its queue entry.
    static constexpr std::size_t kLineOverheadBytes = 96;

    HostAnswerBudget();
    ~HostAnswerBudget();
    HostAnswerBudget(const HostAnswerBudget&) = delete;
    HostAnswerBudget& operator=(const HostAnswerBudget&) = delete;

    void Take(std::size_t bytes) { bytes_ += static_cast<std::int64_t>(bytes); }
    // Wakes a paused reader once the answers are back under half of the mark.
    void Release(std::size_t bytes);
    // The reader's decision before each read: pause above the mark, go on again under half.
    bool ShouldPause();
    std::int64_t Bytes() const { return bytes_; }

    int WakeFd() const { return wakeFd_; }
    void ClearWake() const;

private:
    int wakeFd_ = -1;
    std::atomic<std::int64_t> bytes_{0};
    std::atomic<bool> paused_{false};
};

// WM_HOST_LINE's payload: one answer, whose bytes go back to the budget once it is handled.
struct HostLinePayload : TextPayload {
    HostLinePayload(std::string text, std::shared_ptr<HostAnswerBudget> budget);
    ~HostLinePayload() override;
    HostLinePayload(const HostLinePayload&) = delete;
    HostLinePayload& operator=(const HostLinePayload&) = delete;

private:
    std::shared_ptr<HostAnswerBudget> budget_;
    std::size_t cost_;
};

// Cuts what one link receives into lines and posts them (WM_HOST_LINE) within the budget.
class HostAnswerReader {
public:
    explicit HostAnswerReader(std::shared_ptr<HostAnswerBudget> budget);
    // Logs an over-long line the link ended in.
    ~HostAnswerReader();

    // Takes what the socket holds while the budget allows; `ending`: the link is ending (the
    // socket reports a hang-up or an error), take everything left.
    LinkEnd Read(int fd, bool ending);

private:
    std::shared_ptr<HostAnswerBudget> budget_;
    HostLineFramer framer_;
};

}  // namespace torvane
