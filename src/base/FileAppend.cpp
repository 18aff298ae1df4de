#include "base/FileAppend.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace torvane {
namespace {

// A failing call that left errno at 0 still needs a reason to show.
int ErrorOrIo(int error) {
    return error != 0 ? error : EIO;
}

}  // namespace

std::string SystemErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::string AppendWholeToFile(const std::string& path, const std::string& bytes) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) return SystemErrorText(ErrorOrIo(errno));

    // Where the file ended before this append; devices and pipes have no length to go back to.
    struct stat before {};
    const bool cutBack = ::fstat(::fileno(file), &before) == 0 && S_ISREG(before.st_mode);

    int error = 0;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fflush(file) != 0) {
        error = ErrorOrIo(errno);
    }
    errno = 0;
    if (std::fclose(file) != 0 && error == 0) error = ErrorOrIo(errno);
    // Cut back only once the stream is closed: closing flushes what its buffer still held.
    if (error != 0 && cutBack) (void)::truncate(path.c_str(), before.st_size);
    return error == 0 ? std::string() : SystemErrorText(error);
}

}  // namespace torvane
