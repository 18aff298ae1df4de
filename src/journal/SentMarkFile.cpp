#include "journal/SentMarkFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace torvane {

namespace {

constexpr std::size_t kNoteBytes = 2 * sizeof(std::int64_t);

bool WriteAt(int fd, const void* bytes, std::size_t size) {
    ssize_t written;
    do {
        written = ::pwrite(fd, bytes, size, 0);
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(size);
}

}  // namespace

bool SentMarkFile::Open(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return false;
    std::int64_t note[2] = {0, 0};
    ssize_t read;
    do {
        read = ::pread(fd_, note, kNoteBytes, 0);
    } while (read < 0 && errno == EINTR);
    if (read == static_cast<ssize_t>(kNoteBytes) && note[0] > 0) {
        seq_ = note[0];
        sentMs_ = note[1];
        return true;
    }
    // A new file, or one cut short: its room is taken now, while there is some.
    const std::int64_t empty[2] = {0, 0};
    if (!WriteAt(fd_, empty, kNoteBytes) || ::fdatasync(fd_) != 0) {
        Close();
        return false;
    }
    return true;
}

void SentMarkFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    seq_ = 0;
    sentMs_ = 0;
}

bool SentMarkFile::Note(std::int64_t seq, std::int64_t sentMs) {
    if (fd_ < 0) return false;
    const std::int64_t note[2] = {seq, sentMs};
    if (!WriteAt(fd_, note, kNoteBytes) || ::fdatasync(fd_) != 0) return false;
    seq_ = seq;
    sentMs_ = sentMs;
    return true;
}

}  // namespace torvane
