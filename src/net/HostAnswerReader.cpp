#include "net/HostAnswerReader.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/Logging.h"
#include "base/Texts.h"
#include "net/HostLink.h"

namespace torvane {
namespace {

constexpr std::size_t kReceiveBlockBytes = 4096;

void LogLineTooLong(std::size_t bytes) {
    Log(0, Format(Tr("$$$ Host line too long (%zu bytes), dropped",
                     "$$$ Ligne de l'hôte trop longue (%zu octets), ignorée"),
                  bytes));
}

bool UnderHalf(std::int64_t bytes) {
    return bytes <= HostAnswerBudget::kMaxBytes / 2;
}

// A socket that reports its end without an error was ended by the host in order.
LinkEnd EndReportedBy(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error == 0) {
        return LinkEnd::Orderly;
    }
    const LinkEnd end = EndOfFailedCall(error);
    return end == LinkEnd::Open ? LinkEnd::Failed : end;
}

}  // namespace

HostAnswerBudget::HostAnswerBudget() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

HostAnswerBudget::~HostAnswerBudget() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void HostAnswerBudget::Release(std::size_t bytes) {
    const std::int64_t left = bytes_ -= static_cast<std::int64_t>(bytes);
    // Only a paused reader needs waking: no system call per line otherwise.
    if (paused_ && UnderHalf(left) && paused_.exchange(false)) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    }
}

bool HostAnswerBudget::ShouldPause() {
    if (paused_) {
        if (!UnderHalf(bytes_)) return true;
        paused_ = false;
        return false;
    }
    if (bytes_ <= kMaxBytes) return false;
    paused_ = true;
    // Answers released between the test and the flag would wake nobody: look once more.
    if (UnderHalf(bytes_)) paused_ = false;
    return paused_;
}

void HostAnswerBudget::ClearWake() const {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &count, sizeof count);
}

HostLinePayload::HostLinePayload(std::string line, std::shared_ptr<HostAnswerBudget> budget)
    : TextPayload(std::move(line)),
      budget_(std::move(budget)),
      cost_(text.size() + HostAnswerBudget::kLineOverheadBytes) {
    budget_->Take(cost_);
}

HostLinePayload::~HostLinePayload() {
    budget_->Release(cost_);
}

HostAnswerReader::HostAnswerReader(std::shared_ptr<HostAnswerBudget> budget)
    : budget_(std::move(budget)), framer_(HostLink::kMaxLineBytes) {}

HostAnswerReader::~HostAnswerReader() {
    if (const std::size_t pending = framer_.PendingOverlongBytes()) LogLineTooLong(pending);
}

LinkEnd HostAnswerReader::Read(int fd, bool ending) {
    char block[kReceiveBlockBytes];
    std::string line;
    std::size_t droppedBytes = 0;
    while (ending || !budget_->ShouldPause()) {
        const ssize_t received = ::recv(fd, block, sizeof block, MSG_DONTWAIT);
        if (received == 0) return EndReportedBy(fd);
        if (received < 0) return EndOfFailedCall(errno);
        framer_.Append(block, static_cast<std::size_t>(received));
        for (;;) {
            const auto outcome = framer_.Next(line, droppedBytes);
            if (outcome == HostLineFramer::Outcome::NeedMore) break;
            if (outcome == HostLineFramer::Outcome::TooLong) {
                LogLineTooLong(droppedBytes);
            } else {
                PostToTarget(WM_HOST_LINE, 0,
                             std::make_unique<HostLinePayload>(std::move(line), budget_));
                line.clear();
            }
        }
        if (static_cast<std::size_t>(received) < sizeof block) break;
    }
    return LinkEnd::Open;
}

}  // namespace torvane
