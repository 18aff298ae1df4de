#pragma once

#include <QObject>
#include <string>

#include "base/NamedLock.h"

namespace torvane {

class SummaryListModel;

// Decodes each line the host sends, logs it, and adds runner results to the summary list.
class HostAnswerHandler {
public:
    static constexpr int kSummaryLockTimeoutMs = 2000;

    explicit HostAnswerHandler(SummaryListModel& summary);
    ~HostAnswerHandler();
    HostAnswerHandler(const HostAnswerHandler&) = delete;
    HostAnswerHandler& operator=(const HostAnswerHandler&) = delete;

    void OnHostLine(const std::string& line);
    bool HoldsSummaryLock() const { return summaryLocked_; }

private:
    void TakeSummaryLock();
    void ReleaseSummaryLock();

    SummaryListModel& summary_;
    CResourceMutex summaryLock_;
    bool summaryLocked_ = false;
    QObject releaseContext_;  // owns the pending release, which dies with the handler
};

}  // namespace torvane
