#include "host/HostAnswerDecoder.h"

#include "base/Texts.h"
#include "host/RunnerResult.h"
#include "host/ScanfReader.h"

namespace torvane {

namespace {

constexpr int kImportant = 0;
constexpr int kRawTraffic = 100;
constexpr int kTimeAccepted = 3;
constexpr int kControlTime = -8;
constexpr size_t kNameWidth = 30;

// The host's literal prefix: four percent signs, not a format.
constexpr const char* kResultPrefix = "%%%% ";
constexpr const char* kRejectedPrefix = "------------------------ ";
constexpr const char* kNoTime = "00:00:00";

DecodedHostAnswer LogOnly(std::string text) {
    DecodedHostAnswer answer;
    answer.logLines.emplace_back(kImportant, std::move(text));
    return answer;
}

DecodedHostAnswer CannotDecode(const std::string& line) {
    return LogOnly("$$$ Can't decode " + line);
}

// Reads the number that follows a four-character prefix, as sscanf's "XXX:%d".
std::optional<int> NumberAfterPrefix(const std::string& line) {
    return ScanfReader(std::string_view(line).substr(4)).ReadInt();
}

DecodedHostAnswer DecodeErrorAnswer(const std::string& line) {
    const auto code = NumberAfterPrefix(line);
    if (!code) return CannotDecode(line);
    return LogOnly("$$$ " + ResultCodeText(*code));
}

DecodedHostAnswer DecodeInformationAnswer(const std::string& line) {
    const auto number = NumberAfterPrefix(line);
    if (!number) return CannotDecode(line);
    std::string text = "$$$ " + CommandNumberName(*number);
    const size_t blank = line.find(' ');
    if (blank != std::string::npos) text += ": " + line.substr(blank + 1);
    return LogOnly(std::move(text));
}

std::string RunnerName(const RunnerResult& result) {
    std::string name = result.nameText2 + " " + result.nameText1;
    if (name.size() < kNameWidth) name.resize(kNameWidth, ' ');
    return name;
}

std::string RankingText(const RunnerResult& result) {
    if (result.overallRank == 0) return result.groupA + " - " + result.text15;
    const auto ordinal = [&result](int rank) {
        return OrdinalText(rank, result.groupA, FrenchTexts());
    };
    return ordinal(result.overallRank) + " - " + ordinal(result.groupARank) + " " + result.groupA +
           " - " + ordinal(result.groupBRank) + " " + result.groupB;
}

std::unique_ptr<CSummaryItem> MakeSummaryItem(const RunnerResult& result,
                                              const std::string& codeText) {
    auto item = std::make_unique<CSummaryItem>();
    item->name = RunnerName(result);
    item->bib = result.bib;
    item->time = result.timeText == kNoTime ? std::string(8, ' ') : result.timeText;
    item->passage = result.passage == 1 ? "." : Format("p%d", result.passage);
    const bool accepted = result.resultCode == kTimeAccepted;
    item->status = accepted ? RankingText(result) : codeText;
    item->errorFlag = accepted ? 0 : 1;
    return item;
}

DecodedHostAnswer DecodeRunnerResult(const RunnerResult& result) {
    const std::string codeText = ResultCodeText(result.resultCode);
    if (result.resultCode == kControlTime) return LogOnly(kResultPrefix + codeText);

    DecodedHostAnswer answer;
    answer.logLines.emplace_back(kRawTraffic, kResultPrefix + codeText);
    if (result.resultCode != kTimeAccepted) {
        answer.logLines.emplace_back(kImportant, kRejectedPrefix + codeText);
    }
    answer.summary = MakeSummaryItem(result, codeText);
    return answer;
}

}  // namespace

DecodedHostAnswer DecodeHostAnswer(const std::string& line) {
    if (line.starts_with("ERR:")) return DecodeErrorAnswer(line);
    if (line.starts_with("NFO:")) return DecodeInformationAnswer(line);

    const RunnerResultScan scan =
        line.starts_with("RES:1") ? ParseResultAnswer(line) : ParseTaggedRecord(line);
    if (!scan.result) {
        return LogOnly(Format(Tr("$$$ Error decoding Ostrak response: (ret=%d)",
                                 "$$$ Erreur décodage réponse Ostrak: (ret=%d)"),
                              scan.fieldCount));
    }
    return DecodeRunnerResult(*scan.result);
}

}  // namespace torvane
