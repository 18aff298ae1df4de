#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace mylapssim {

// "<source>@<command>@<field>@...@$": every field is followed by "@", the message by "$".
std::string ComposeMessage(const std::string& source, const std::string& command,
                           const std::vector<std::string>& fields = {});

// Cuts a received byte stream into message texts at every "$". Empty messages are skipped.
// A text that grows past the limit without a "$" is thrown away and counted.
class MessageSplitter {
public:
    explicit MessageSplitter(std::size_t limit = 1 << 20) : limit_(limit) {}
    void Feed(const char* bytes, std::size_t count);
    std::optional<std::string> Take();
    std::size_t Discarded() const { return discarded_; }
    void Reset() { pending_.clear(); }

private:
    std::string pending_;
    std::size_t limit_;
    std::size_t discarded_ = 0;
};

struct ReceivedMessage {
    std::string source;  // line ends removed
    std::string command;
    std::vector<std::string> fields;  // the fields after the command
};

// Splits at "@": empty fields between separators are kept, an empty last part is not a field.
// Fewer than two fields gives nothing.
std::optional<ReceivedMessage> ParseMessage(const std::string& text);

// The token an "AckStore" or "AckMarker" carries: its last field, or the one before an empty
// last field.
std::optional<std::string> AckToken(const ReceivedMessage& message);

// What this source answers to a message from Torvane, as wire text; nothing for the
// acknowledgements and for commands it does not know.
std::optional<std::string> AnswerFor(const ReceivedMessage& message, const std::string& source);

}  // namespace mylapssim
