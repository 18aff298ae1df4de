#include "host/HostAnswerHandler.h"

#include <QMetaObject>

#include "app/ActivityLists.h"
#include "base/Logging.h"
#include "host/HostAnswerDecoder.h"

namespace torvane {

HostAnswerHandler::HostAnswerHandler(SummaryListModel& summary)
    : summary_(summary), summaryLock_("Summary") {}

HostAnswerHandler::~HostAnswerHandler() {
    ReleaseSummaryLock();
}

void HostAnswerHandler::OnHostLine(const std::string& line) {
    DecodedHostAnswer answer = DecodeHostAnswer(line);
    for (const auto& [level, text] : answer.logLines) Log(level, text);
    if (!answer.summary) return;
    // The row is added whether or not the lock could be had.
    TakeSummaryLock();
    summary_.Append(std::move(answer.summary));
}

// Results come in bursts, one posted line each, thousands when the host catches up. The lock is
// taken at the first addition of a burst and released once the messages already waiting have
// been handled: every addition still happens under it, without two system calls each.
void HostAnswerHandler::TakeSummaryLock() {
    if (summaryLocked_) return;
    summaryLocked_ = summaryLock_.Lock(kSummaryLockTimeoutMs);
    if (summaryLocked_) {
        QMetaObject::invokeMethod(
            &releaseContext_, [this] { ReleaseSummaryLock(); }, Qt::QueuedConnection);
    }
}

void HostAnswerHandler::ReleaseSummaryLock() {
    if (!summaryLocked_) return;
    summaryLock_.Unlock();
    summaryLocked_ = false;
}

}  // namespace torvane
