#include "net/MessageFramer.h"

#include <cstring>

#include "base/Logging.h"
#include "base/Texts.h"

namespace torvane {
namespace {

constexpr std::size_t kLongestNameShown = 32;

// The source name an over-long message starts with, fit for a log line: its first field when
// one ends within the first bytes, control bytes shown as "?"; "?" when there is none.
std::string SourceNameShown(std::string_view message) {
    const std::size_t at = message.substr(0, kLongestNameShown + 1).find('@');
    if (at == std::string_view::npos || at == 0) return "?";
    std::string name(message.substr(0, at));
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return name;
}

}  // namespace

void MessageFramer::Append(const char* data, std::size_t size) {
    Compact();
    buffer_.append(data, size);
}

MessageFramer::Outcome MessageFramer::Next(std::string& text) {
    const std::size_t dollar = buffer_.find('$', searchFrom_);
    if (dollar == std::string::npos) {
        searchFrom_ = buffer_.size();
        return buffer_.size() - messageStart_ > maxMessageBytes_ ? TooLong() : Outcome::NeedMore;
    }
    const std::size_t length = dollar - messageStart_;
    if (length > maxMessageBytes_) return TooLong();

    const char* begin = buffer_.data() + messageStart_;
    messageStart_ = dollar + 1;
    searchFrom_ = messageStart_;
    if (length == 0) return Outcome::EmptyMessage;
    text.assign(begin, strnlen(begin, length));
    return Outcome::Message;
}

// The connection ends on an over-long message; the operator is told why, once.
MessageFramer::Outcome MessageFramer::TooLong() {
    if (!tooLongLogged_) {
        tooLongLogged_ = true;
        const std::string source = SourceNameShown(std::string_view(buffer_).substr(messageStart_));
        Log(0, Format(Tr("$$$ MyLaps message from %s over %zu bytes: connection closed",
                         "$$$ Message MyLaps de %s au-delà de %zu octets : connexion fermée"),
                      source.c_str(), maxMessageBytes_));
    }
    return Outcome::TooLong;
}

// Drops the bytes of messages already taken, once per received block rather than per message.
void MessageFramer::Compact() {
    if (messageStart_ == 0) return;
    buffer_.erase(0, messageStart_);
    searchFrom_ -= messageStart_;
    messageStart_ = 0;
}

}  // namespace torvane
