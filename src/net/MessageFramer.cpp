#include "net/MessageFramer.h"

#include <cstring>

namespace torvane {

void MessageFramer::Append(const char* data, std::size_t size) {
    Compact();
    buffer_.append(data, size);
}

MessageFramer::Outcome MessageFramer::Next(std::string& text) {
    const std::size_t dollar = buffer_.find('$', searchFrom_);
    if (dollar == std::string::npos) {
        searchFrom_ = buffer_.size();
        return buffer_.size() - messageStart_ > maxMessageBytes_ ? Outcome::TooLong
                                                                 : Outcome::NeedMore;
    }
    const std::size_t length = dollar - messageStart_;
    if (length > maxMessageBytes_) return Outcome::TooLong;

    const char* begin = buffer_.data() + messageStart_;
    messageStart_ = dollar + 1;
    searchFrom_ = messageStart_;
    if (length == 0) return Outcome::EmptyMessage;
    text.assign(begin, strnlen(begin, length));
    return Outcome::Message;
}

// Drops the bytes of messages already taken, once per received block rather than per message.
void MessageFramer::Compact() {
    if (messageStart_ == 0) return;
    buffer_.erase(0, messageStart_);
    searchFrom_ -= messageStart_;
    messageStart_ = 0;
}

}  // namespace torvane
