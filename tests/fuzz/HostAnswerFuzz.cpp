// Host answers: the lines cut from the host's byte stream are the same whatever the sizes of the
// blocks it arrives in, and exactly its LF-ended lines (empty ones skipped, over-long ones
// counted and dropped); each line decodes into log lines and at most one summary row whose
// fields keep within their widths.

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "host/HostAnswerDecoder.h"
#include "host/RunnerResult.h"
#include "net/HostLineFramer.h"

namespace torvane::fuzz {
namespace {

using Outcome = HostLineFramer::Outcome;

struct Framed {
    std::vector<std::string> lines;
    std::vector<std::size_t> dropped;  // the lengths of the over-long lines, in order
    bool operator==(const Framed&) const = default;
};

Framed ExpectedLines(const std::string& stream, std::size_t limit) {
    Framed framed;
    std::size_t start = 0;
    for (std::size_t end = stream.find('\n'); end != std::string::npos;
         end = stream.find('\n', start)) {
        const std::size_t length = end - start;
        if (length > limit) {
            framed.dropped.push_back(length);
        } else if (length > 0) {
            std::string line = stream.substr(start, length);
            line = line.substr(0, line.find('\0'));
            while (!line.empty() && line.back() == '\r') line.pop_back();
            framed.lines.push_back(line);
        }
        start = end + 1;
    }
    return framed;
}

Framed FrameInBlocks(const std::string& stream, const std::vector<std::size_t>& blocks,
                     std::size_t limit) {
    HostLineFramer framer(limit);
    Framed framed;
    std::size_t at = 0;
    for (const std::size_t block : blocks) {
        framer.Append(stream.data() + at, block);
        at += block;
        std::string text;
        std::size_t dropped = 0;
        for (Outcome outcome = framer.Next(text, dropped); outcome != Outcome::NeedMore;
             outcome = framer.Next(text, dropped)) {
            if (outcome == Outcome::Line) {
                framed.lines.push_back(text);
            } else {
                framed.dropped.push_back(dropped);
            }
        }
    }
    return framed;
}

void CheckWidths(const RunnerResult& result, bool tagged) {
    for (const std::string* text :
         {&result.text5, &result.text6, &result.nameText1, &result.nameText2, &result.text16,
          &result.timeText, &result.text20, &result.text21}) {
        FUZZ_CHECK(text->size() <= kWideTextWidth);
    }
    for (const std::string* text : {&result.groupA, &result.groupB, &result.text18}) {
        FUZZ_CHECK(text->size() <= kLabelWidth);
    }
    FUZZ_CHECK(result.text15.size() <= kText15Width);
    if (tagged) FUZZ_CHECK(result.leading1.size() <= kLabelWidth);
}

void CheckDecoding(const std::string& line) {
    const RunnerResultScan answer = ParseResultAnswer(line);
    if (answer.result) {
        FUZZ_CHECK(answer.fieldCount >= kResultAnswerRequiredFields);
        CheckWidths(*answer.result, false);
    }
    const RunnerResultScan record = ParseTaggedRecord(line);
    if (record.result) CheckWidths(*record.result, true);

    const DecodedHostAnswer decoded = DecodeHostAnswer(line);
    FUZZ_CHECK(!decoded.logLines.empty());
    if (const CSummaryItem* item = decoded.summary.get()) {
        FUZZ_CHECK(item->name.size() >= 30);
        FUZZ_CHECK(item->errorFlag == 0 || item->errorFlag == 1);
        FUZZ_CHECK(item->passage == "." ||
                   (item->passage.size() > 1 && item->passage.front() == 'p'));
    }
}

}  // namespace
}  // namespace torvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane::fuzz;
    FuzzedDataProvider input(data, size);
    const std::size_t limit = input.ConsumeIntegralInRange<std::size_t>(1, 512);
    const std::string pattern = input.ConsumeRandomLengthString(16);
    const std::string stream = input.ConsumeRemainingBytesAsString();

    const Framed expected = ExpectedLines(stream, limit);
    FUZZ_CHECK(FrameInBlocks(stream, {stream.size()}, limit) == expected);
    FUZZ_CHECK(FrameInBlocks(stream, BlockSizes(pattern, stream.size()), limit) == expected);
    for (const std::string& line : expected.lines) CheckDecoding(line);
    return 0;
}
