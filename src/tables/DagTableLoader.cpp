#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/Texts.h"
#include "tables/DagTable.h"

namespace torvane {
namespace {

constexpr std::size_t kMaxLineLength = 510;
constexpr std::size_t kMaxTokenLength = 255;

class FileCloser {
public:
    explicit FileCloser(std::FILE* file) : file_(file) {}
    ~FileCloser() {
        if (file_) std::fclose(file_);
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    std::FILE* file_;
};

// Opens a regular file for reading; anything else (a folder, a device, a pipe) counts as a
// file that cannot be opened.
std::FILE* OpenRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "r");
    if (!file) ::close(fd);
    return file;
}

// Reads the next line and its LF; false at the end of the file. A line of more than 510 bytes
// (line end not counted) is read to its end but comes back empty and `tooLong`, so that none of
// it is taken for a line of its own.
bool ReadLine(std::FILE* file, std::string& line, bool& tooLong) {
    line.clear();
    std::size_t length = 0;  // bytes before the LF
    bool endsWithCr = false;
    int c = std::getc(file);
    if (c == EOF) return false;
    for (; c != EOF && c != '\n'; c = std::getc(file)) {
        ++length;
        endsWithCr = c == '\r';
        if (line.size() <= kMaxLineLength) line.push_back(static_cast<char>(c));
    }
    tooLong = length - (endsWithCr ? 1 : 0) > kMaxLineLength;
    if (tooLong) line.clear();
    return true;
}

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The first `maxCount` blank-delimited tokens of a line.
std::vector<std::string> LeadingTokens(const std::string& line, std::size_t maxCount) {
    std::vector<std::string> tokens;
    std::size_t at = 0;
    while (tokens.size() < maxCount) {
        while (at < line.size() && IsBlank(line[at])) ++at;
        if (at >= line.size()) break;
        const std::size_t start = at;
        while (at < line.size() && !IsBlank(line[at])) ++at;
        tokens.push_back(line.substr(start, at - start));
    }
    return tokens;
}

struct TokenPair {
    std::string first;
    std::string second;
};

// Two blank-delimited tokens, or one token split at its first ";" when that has text on both
// sides. A line that gives neither, or a token longer than 255 characters, does not fit.
std::optional<TokenPair> SplitLine(std::string line) {
    // The line ends where a C text would: at a NUL byte.
    if (const std::size_t nul = line.find('\0'); nul != std::string::npos) line.resize(nul);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const std::vector<std::string> tokens = LeadingTokens(line, 2);
    for (const std::string& token : tokens) {
        if (token.size() > kMaxTokenLength) return std::nullopt;
    }
    if (tokens.size() == 2) return TokenPair{tokens[0], tokens[1]};
    if (tokens.size() != 1) return std::nullopt;
    const std::string& token = tokens[0];
    const std::size_t semicolon = token.find(';');
    if (semicolon == std::string::npos || semicolon == 0 || semicolon + 1 >= token.size()) {
        return std::nullopt;
    }
    return TokenPair{token.substr(0, semicolon), token.substr(semicolon + 1)};
}

void StripDoubleQuotes(std::string& text) {
    const std::size_t first = text.find_first_not_of('"');
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    text = text.substr(first, text.find_last_not_of('"') - first + 1);
}

void CutAtLast(std::string& text, char c) {
    const std::size_t at = text.rfind(c);
    if (at != std::string::npos) text.resize(at);
}

// A token is a number when, without its surrounding double quotes and cut at its last ",",
// then its last ".", then its last ";", it is a run of decimal digits that fits 32 bits.
// "123", and 123; give 123, 12.5 gives 12, 1,234 gives 1.
std::optional<std::int32_t> TableTokenNumber(std::string token) {
    StripDoubleQuotes(token);
    CutAtLast(token, ',');
    CutAtLast(token, '.');
    CutAtLast(token, ';');
    // Quotes may also stand before the cut, as in "123",
    StripDoubleQuotes(token);
    if (token.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : token) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

// Appends the entry a line gives: the number is the bib, the other token the key; when both
// are numbers the first is the bib. False when the line gives no entry.
bool AddTableLine(const std::string& line, DagTableContent& content) {
    const auto tokens = SplitLine(line);
    if (!tokens) return false;
    const auto firstNumber = TableTokenNumber(tokens->first);
    if (firstNumber) return content.Add(tokens->second, *firstNumber);
    const auto secondNumber = TableTokenNumber(tokens->second);
    if (secondNumber) return content.Add(tokens->first, *secondNumber);
    return false;
}

// Reads a whole table file into `content`; false with the reason in `error`.
bool ReadTableFile(const std::string& path, DagTableContent& content, std::string& error) {
    std::FILE* file = OpenRegularFile(path);
    if (!file) {
        error = Format(Tr("Error opening file: %s", "Erreur ouverture fichier: %s"), path.c_str());
        return false;
    }
    FileCloser closer(file);

    unsigned char head[3];
    if (std::fread(head, 1, sizeof head, file) < sizeof head) {
        error = Format(
            Tr("Error empty file, or nearly empty: %s", "Erreur fichier vide ou presque: %s"),
            path.c_str());
        return false;
    }
    if ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF)) {
        error = Format(Tr("Error file encoding (UTF16): %s", "Erreur encodage (UTF16) fichier: %s"),
                       path.c_str());
        return false;
    }
    const bool utf8Mark = head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
    if (!utf8Mark) std::rewind(file);

    std::string line;
    for (bool tooLong = false; ReadLine(file, line, tooLong);) {
        if (!tooLong) AddTableLine(line, content);
    }
    if (std::ferror(file)) {
        error = Format(Tr("Error reading file: %s", "Erreur lecture fichier: %s"), path.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool DagTableLoadFile(const std::string& path, std::string& error) {
    // Read aside: the table in use serves until the new one is complete.
    DagTableContent content;
    if (!ReadTableFile(path, content, error)) return false;
    DagTableReplace(std::move(content));
    return true;
}

}  // namespace torvane
