#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvane {

// Cuts a MyLaps byte stream into "$"-ended messages. Bytes arrive in blocks of any size; what
// follows a "$" stays buffered for the next message. At most maxMessageBytes may precede a "$",
// so the buffer never holds more than that plus one received block.
class MessageFramer {
public:
    enum class Outcome {
        Message,       // a complete message with at least one byte before its "$"
        EmptyMessage,  // a "$" with nothing before it
        TooLong,       // more than maxMessageBytes without a "$"
        NeedMore,      // no complete message buffered
    };

    explicit MessageFramer(std::size_t maxMessageBytes) : maxMessageBytes_(maxMessageBytes) {}

    void Append(const char* data, std::size_t size);

    // Takes the next buffered message. Its text stops at the first NUL byte, if any; the bytes
    // from the NUL up to the "$" are dropped. EmptyMessage and TooLong end the stream: a caller
    // that goes on appending after them gets undefined framing. TooLong logs a level-0 line
    // naming the source (the message's first field) and the limit.
    Outcome Next(std::string& text);

private:
    void Compact();
    Outcome TooLong();

    std::size_t maxMessageBytes_;
    std::string buffer_;
    std::size_t messageStart_ = 0;  // where the message being framed begins in buffer_
    std::size_t searchFrom_ = 0;    // bytes before this offset hold no "$"
    bool tooLongLogged_ = false;
};

}  // namespace torvane
