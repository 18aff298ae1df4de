#include "MyLapsWire.h"

#include <algorithm>

namespace mylapssim {

std::string ComposeMessage(const std::string& source, const std::string& command,
                           const std::vector<std::string>& fields) {
    std::string text = source + "@" + command + "@";
    for (const std::string& field : fields) text += field + "@";
    return text + "$";
}

void MessageSplitter::Feed(const char* bytes, std::size_t count) {
    pending_.append(bytes, count);
    if (pending_.size() > limit_ && pending_.find('$') == std::string::npos) {
        discarded_ += pending_.size();
        pending_.clear();
    }
}

std::optional<std::string> MessageSplitter::Take() {
    for (;;) {
        const auto end = pending_.find('$');
        if (end == std::string::npos) return std::nullopt;
        std::string text = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!text.empty()) return text;
    }
}

std::optional<ReceivedMessage> ParseMessage(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('@', start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    if (start < text.size()) parts.push_back(text.substr(start));
    if (parts.size() < 2) return std::nullopt;

    ReceivedMessage message;
    message.source = parts[0];
    std::erase_if(message.source, [](char c) { return c == '\r' || c == '\n'; });
    message.command = parts[1];
    message.fields.assign(parts.begin() + 2, parts.end());
    return message;
}

std::optional<std::string> AckToken(const ReceivedMessage& message) {
    const auto& fields = message.fields;
    if (fields.empty()) return std::nullopt;
    if (!fields.back().empty()) return fields.back();
    if (fields.size() >= 2 && !fields[fields.size() - 2].empty()) return fields[fields.size() - 2];
    return std::nullopt;
}

std::optional<std::string> AnswerFor(const ReceivedMessage& message, const std::string& source) {
    if (message.command == "Ping") return ComposeMessage(source, "AckPing");
    if (message.command == "GetInfo")
        return ComposeMessage(source, "AckGetInfo", {source, "mylaps-sim"});
    if (message.command == "Pong") return ComposeMessage(source, "AckPong");
    return std::nullopt;
}

}  // namespace mylapssim
