#include "net/HostLineFramer.h"

#include <cstring>

namespace torvane {

void HostLineFramer::Append(const char* data, std::size_t size) {
    Compact();
    buffer_.append(data, size);
}

HostLineFramer::Outcome HostLineFramer::Next(std::string& text, std::size_t& droppedBytes) {
    for (;;) {
        const std::size_t lineFeed = buffer_.find('\n', searchFrom_);
        if (lineFeed == std::string::npos) {
            searchFrom_ = buffer_.size();
            if (discarding_ || buffer_.size() - lineStart_ > maxLineBytes_) DiscardPendingBytes();
            return Outcome::NeedMore;
        }
        const std::size_t length = lineFeed - lineStart_;
        const char* begin = buffer_.data() + lineStart_;
        lineStart_ = lineFeed + 1;
        searchFrom_ = lineStart_;

        if (discarding_ || length > maxLineBytes_) {
            droppedBytes = discarded_ + length;
            discarding_ = false;
            discarded_ = 0;
            return Outcome::TooLong;
        }
        if (length == 0) continue;

        text.assign(begin, strnlen(begin, length));
        while (!text.empty() && text.back() == '\r') text.pop_back();
        return Outcome::Line;
    }
}

std::size_t HostLineFramer::PendingOverlongBytes() const {
    return discarding_ ? discarded_ + (buffer_.size() - lineStart_) : 0;
}

void HostLineFramer::DiscardPendingBytes() {
    discarding_ = true;
    discarded_ += buffer_.size() - lineStart_;
    buffer_.resize(lineStart_);
    searchFrom_ = lineStart_;
}

// Drops the bytes of lines already taken, once per received block rather than per line.
void HostLineFramer::Compact() {
    if (lineStart_ == 0) return;
    buffer_.erase(0, lineStart_);
    searchFrom_ -= lineStart_;
    lineStart_ = 0;
}

}  // namespace torvane
