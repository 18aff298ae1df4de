// Chip table files: whatever the bytes, the loaded keys are whole blank-free texts of the file
// of at most 63 bytes, each line gives at most one entry, and a look-up finds the first entry
// of its key.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "tables/DagTable.h"

namespace torvane::fuzz {
namespace {

std::string FoldAsciiCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool SameEntries(const std::vector<CDagItem>& a, const std::vector<CDagItem>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::strcmp(a[i].key, b[i].key) != 0 || a[i].value != b[i].value) return false;
    }
    return true;
}

void CheckEntries(const std::string& bytes, const std::vector<CDagItem>& entries) {
    // Lines are read in pieces of at most 510 bytes; each piece gives one entry at most.
    const std::size_t lineFeeds =
        static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    FUZZ_CHECK(entries.size() <= lineFeeds + 1 + bytes.size() / 510);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CDagItem& entry = entries[i];
        const std::size_t length = strnlen(entry.key, sizeof entry.key);
        FUZZ_CHECK(length > 0 && length <= 63);
        const std::string key(entry.key, length);
        for (const char c : key) FUZZ_CHECK(!std::isspace(static_cast<unsigned char>(c)));
        FUZZ_CHECK(bytes.find(key) != std::string::npos);
        FUZZ_CHECK(entry.value >= 0);

        int expected = entry.value;
        for (std::size_t j = 0; j < i; ++j) {
            if (FoldAsciiCase(entries[j].key) == FoldAsciiCase(key)) {
                expected = entries[j].value;
                break;
            }
        }
        int found = -2;
        FUZZ_CHECK(DagTableFindValue(key, found));
        FUZZ_CHECK(found == expected);
    }
}

}  // namespace
}  // namespace torvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane;
    using namespace torvane::fuzz;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const int fd = ::memfd_create("chip-table", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    std::string error;
    const std::vector<CDagItem> before = DagTableEntries();
    const bool loaded = DagTableLoadFile(path, error);
    const bool utf16 =
        size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
    FUZZ_CHECK(loaded == (size >= 3 && !utf16));
    FUZZ_CHECK(loaded == error.empty());
    const std::vector<CDagItem> entries = DagTableEntries();
    // A refused file leaves the table in use as it was.
    if (!loaded) {
        FUZZ_CHECK(SameEntries(entries, before));
        ::close(fd);
        return 0;
    }
    CheckEntries(bytes, entries);

    FUZZ_CHECK(DagTableLoadFile(path, error) == loaded);
    FUZZ_CHECK(SameEntries(DagTableEntries(), entries));
    ::close(fd);
    return 0;
}
