// MyLaps framing: the messages cut from a byte stream are the same whatever the sizes of the
// blocks it arrives in, and they are exactly the bytes between two "$" (up to a NUL); the fields
// of each message put together again give the message back.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "intake/MyLapsProtocol.h"
#include "net/MessageFramer.h"

namespace torvane::fuzz {
namespace {

using Outcome = MessageFramer::Outcome;

struct Framing {
    std::vector<std::string> messages;
    Outcome end = Outcome::NeedMore;  // NeedMore, or what ended the stream
    bool operator==(const Framing&) const = default;
};

// What the stream must give, worked out directly from the bytes.
Framing ExpectedFraming(const std::string& stream, std::size_t limit) {
    Framing framing;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dollar = stream.find('$', start);
        if (dollar == std::string::npos) {
            framing.end = stream.size() - start > limit ? Outcome::TooLong : Outcome::NeedMore;
            return framing;
        }
        const std::size_t length = dollar - start;
        if (length > limit) {
            framing.end = Outcome::TooLong;
            return framing;
        }
        if (length == 0) {
            framing.end = Outcome::EmptyMessage;
            return framing;
        }
        const std::string message = stream.substr(start, length);
        framing.messages.push_back(message.substr(0, message.find('\0')));
        start = dollar + 1;
    }
}

Framing FrameInBlocks(const std::string& stream, const std::vector<std::size_t>& blocks,
                      std::size_t limit) {
    MessageFramer framer(limit);
    Framing framing;
    std::size_t at = 0;
    for (const std::size_t block : blocks) {
        framer.Append(stream.data() + at, block);
        at += block;
        std::string text;
        for (Outcome outcome = framer.Next(text); outcome != Outcome::NeedMore;
             outcome = framer.Next(text)) {
            if (outcome != Outcome::Message) {
                framing.end = outcome;
                return framing;
            }
            framing.messages.push_back(text);
        }
    }
    return framing;
}

void CheckFields(const std::string& text) {
    const std::vector<std::string> fields = MyLapsProtocol::SplitFields(text);
    std::string joined;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        FUZZ_CHECK(fields[i].find_first_of("@$") == std::string::npos);
        if (i > 0) joined += '@';
        joined += fields[i];
    }
    // A "@" that ends the text adds no empty last field.
    if (!text.empty() && text.back() == '@') joined += '@';
    FUZZ_CHECK(joined == text);
}

}  // namespace
}  // namespace torvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane::fuzz;
    FuzzedDataProvider input(data, size);
    const std::size_t limit = input.ConsumeIntegralInRange<std::size_t>(1, 96);
    const std::string pattern = input.ConsumeRandomLengthString(16);
    const std::string stream = input.ConsumeRemainingBytesAsString();

    const Framing expected = ExpectedFraming(stream, limit);
    FUZZ_CHECK(FrameInBlocks(stream, {stream.size()}, limit) == expected);
    FUZZ_CHECK(FrameInBlocks(stream, BlockSizes(pattern, stream.size()), limit) == expected);
    for (const std::string& message : expected.messages) {
        FUZZ_CHECK(message.size() <= limit);
        CheckFields(message);
    }
    return 0;
}
