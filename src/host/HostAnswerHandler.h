#pragma once

#include <QObject>
#include <QTimer>
#include <deque>
#include <memory>
#include <string>

#include "base/NamedLock.h"
#include "state/SummaryItem.h"

namespace torvane {

class SummaryListModel;

// Decodes each line the host sends, logs it, and adds runner results to the summary list under
// the named lock "Summary". The lock is never waited for on the window thread: one try per burst
// of results; while another process holds it, the rows wait here, in order, and go to the list
// once a later try takes it.
class HostAnswerHandler {
public:
    static constexpr int kSummaryLockRetryMs = 50;

    explicit HostAnswerHandler(SummaryListModel& summary);
    ~HostAnswerHandler();
    HostAnswerHandler(const HostAnswerHandler&) = delete;
    HostAnswerHandler& operator=(const HostAnswerHandler&) = delete;

    void OnHostLine(const std::string& line);
    bool HoldsSummaryLock() const { return summaryLocked_; }
    int WaitingRowCount() const { return static_cast<int>(waiting_.size()); }

private:
    void AddWaitingRows();
    void TryTakeSummaryLock();
    void EndBurst();
    void ReleaseSummaryLock();

    SummaryListModel& summary_;
    CResourceMutex summaryLock_;
    bool summaryLocked_ = false;
    bool triedThisBurst_ = false;
    std::deque<std::unique_ptr<CSummaryItem>> waiting_;
    QTimer retry_;
    QObject burstContext_;  // owns the pending end of a burst, which dies with the handler
};

}  // namespace torvane
