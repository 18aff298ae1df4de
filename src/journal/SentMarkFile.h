#pragma once

#include <cstdint>
#include <string>

namespace torvane {

// A note of how far the host has been sent lines while the journal could not be written: a
// few bytes written in place in a file made when the journal opens, so that noting takes no new
// room on a full disk. The journal's next opening records those lines as sent, and a run killed
// before its journal could take the marks does not send them a second time.
class SentMarkFile {
public:
    static constexpr const char* kSuffix = "-sent";

    SentMarkFile() = default;
    ~SentMarkFile() { Close(); }
    SentMarkFile(const SentMarkFile&) = delete;
    SentMarkFile& operator=(const SentMarkFile&) = delete;

    // Opens the file, made with an empty note when missing; false when it cannot be.
    bool Open(const std::string& path);
    void Close();

    // The last line noted as sent and when, 0 when nothing is noted.
    std::int64_t Seq() const { return seq_; }
    std::int64_t SentMs() const { return sentMs_; }
    // Writes the note and flushes it to the disk; false when it could not.
    bool Note(std::int64_t seq, std::int64_t sentMs);
    bool Clear() { return seq_ == 0 || Note(0, 0); }

private:
    int fd_ = -1;
    std::int64_t seq_ = 0;
    std::int64_t sentMs_ = 0;
};

}  // namespace torvane
