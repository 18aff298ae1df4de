#include "host/HostAnswerHandler.h"

#include <QMetaObject>

#include "base/Logging.h"
#include "host/HostAnswerDecoder.h"
#include "state/ActivityLists.h"

namespace torvane {

HostAnswerHandler::HostAnswerHandler(SummaryListModel& summary)
    : summary_(summary), summaryLock_("Summary") {
    retry_.setSingleShot(true);
    retry_.setInterval(kSummaryLockRetryMs);
    QObject::connect(&retry_, &QTimer::timeout, [this] { AddWaitingRows(); });
}

HostAnswerHandler::~HostAnswerHandler() {
    ReleaseSummaryLock();
}

void HostAnswerHandler::OnHostLine(const std::string& line) {
    DecodedHostAnswer answer = DecodeHostAnswer(line);
    for (const auto& [level, text] : answer.logLines) Log(level, text);
    if (!answer.summary) return;
    waiting_.push_back(std::move(answer.summary));
    AddWaitingRows();
}

// Results come in bursts, one posted line each, thousands when the host catches up. The lock is
// tried once at the first result of a burst and, when taken, released once the messages already
// waiting have been handled: every addition happens under it, without two system calls each.
void HostAnswerHandler::AddWaitingRows() {
    if (waiting_.empty()) return;
    if (summaryLock_.IsUsable()) {
        if (!summaryLocked_ && !triedThisBurst_) TryTakeSummaryLock();
        if (!summaryLocked_) {
            if (!retry_.isActive()) retry_.start();
            return;
        }
    }
    // A lock that could not be made guards nothing: the rows are added without it.
    while (!waiting_.empty()) {
        summary_.Append(std::move(waiting_.front()));
        waiting_.pop_front();
    }
}

void HostAnswerHandler::TryTakeSummaryLock() {
    triedThisBurst_ = true;
    summaryLocked_ = summaryLock_.TryLock();
    QMetaObject::invokeMethod(
        &burstContext_, [this] { EndBurst(); }, Qt::QueuedConnection);
}

void HostAnswerHandler::EndBurst() {
    ReleaseSummaryLock();
    triedThisBurst_ = false;
}

void HostAnswerHandler::ReleaseSummaryLock() {
    if (!summaryLocked_) return;
    summaryLock_.Unlock();
    summaryLocked_ = false;
}

}  // namespace torvane
