#pragma once

#include <cstddef>
#include <string>

namespace torvane {

// Cuts the host's byte stream into LF-ended lines. Bytes arrive in blocks of any size; what
// follows a LF stays buffered for the next line. A line longer than maxLineBytes before its LF
// is dropped whole: its bytes are counted, not kept, so the buffer never holds more than
// maxLineBytes plus one received block.
class HostLineFramer {
public:
    enum class Outcome {
        Line,      // a line with at least one byte before its LF
        TooLong,   // an over-long line has ended; droppedBytes tells its length
        NeedMore,  // no complete line buffered
    };

    explicit HostLineFramer(std::size_t maxLineBytes) : maxLineBytes_(maxLineBytes) {}

    void Append(const char* data, std::size_t size);

    // Takes the next line, skipping bare LFs. The text stops at the first NUL byte, if any,
    // and loses its trailing CRs ("OK\r\n" gives "OK", "\r\n" gives an empty text).
    Outcome Next(std::string& text, std::size_t& droppedBytes);

    // Bytes of an over-long line whose LF has not arrived yet; 0 when none is being dropped.
    std::size_t PendingOverlongBytes() const;

private:
    void Compact();
    void DiscardPendingBytes();

    std::size_t maxLineBytes_;
    std::string buffer_;
    std::size_t lineStart_ = 0;   // where the line being framed begins in buffer_
    std::size_t searchFrom_ = 0;  // bytes before this offset hold no LF
    bool discarding_ = false;     // the line being framed is already too long
    std::size_t discarded_ = 0;   // its bytes already thrown away
};

}  // namespace torvane
