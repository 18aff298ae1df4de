#pragma once

#include <string>

#include "app/NamedLock.h"

namespace torvane {

class SummaryListModel;

// Decodes each line the host sends, logs it, and adds runner results to the summary list.
class HostAnswerHandler {
public:
    static constexpr int kSummaryLockTimeoutMs = 2000;

    explicit HostAnswerHandler(SummaryListModel& summary);
    void OnHostLine(const std::string& line);

private:
    SummaryListModel& summary_;
    CResourceMutex summaryLock_;
};

}  // namespace torvane
