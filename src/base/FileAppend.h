#pragma once

#include <string>

namespace torvane {

// Appends bytes to a file (created when missing) whole or not at all: when the write, the flush
// or the close fails, what reached the file is cut off again, so a reader never finds half a
// record. Returns the system's reason for a failure, an empty text on success.
std::string AppendWholeToFile(const std::string& path, const std::string& bytes);

// The system's text for an error number ("No space left on device").
std::string SystemErrorText(int error);

}  // namespace torvane
