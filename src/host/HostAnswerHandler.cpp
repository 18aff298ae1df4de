#include "host/HostAnswerHandler.h"

#include "app/ActivityLists.h"
#include "app/Logging.h"
#include "host/HostAnswerDecoder.h"

namespace torvane {

HostAnswerHandler::HostAnswerHandler(SummaryListModel& summary)
    : summary_(summary), summaryLock_("Summary") {}

void HostAnswerHandler::OnHostLine(const std::string& line) {
    DecodedHostAnswer answer = DecodeHostAnswer(line);
    for (const auto& [level, text] : answer.logLines) Log(level, text);
    if (!answer.summary) return;
    // The row is added whether or not the lock could be had.
    const bool locked = summaryLock_.Lock(kSummaryLockTimeoutMs);
    summary_.Append(std::move(answer.summary));
    if (locked) summaryLock_.Unlock();
}

}  // namespace torvane
