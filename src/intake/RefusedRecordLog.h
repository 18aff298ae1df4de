#pragma once

#include <cstddef>
#include <string>

namespace torvane {

// The records of a source's message that could not be used (no chip, no time, a bad time) are
// told in one level-0 line per message, not one per record: a source that sends thousands of
// them must not flood the log. A message with one such record gets that record's own line; one
// with more gets the first record's line with the count. Outside a message (a passing handed over
// alone) each line is logged at once. Used on the window thread only.
class RefusedRecordLog {
public:
    // Collects the refusals of one message until it goes out of scope.
    class Message {
    public:
        explicit Message(RefusedRecordLog& log) : log_(log) { log_.inMessage_ = true; }
        ~Message() { log_.EndMessage(); }
        Message(const Message&) = delete;
        Message& operator=(const Message&) = delete;

    private:
        RefusedRecordLog& log_;
    };

    // A record refused, with the line that says why.
    void Refuse(std::string line);

private:
    void EndMessage();

    bool inMessage_ = false;
    std::size_t refused_ = 0;
    std::string firstLine_;
};

}  // namespace torvane
