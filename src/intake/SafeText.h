#pragma once

#include <string>

namespace torvane {

// Replaces every control byte (below 0x20, and 0x7F) by "?", so that a text received from the
// network can neither cut a host command's fields or line nor break a list or log line.
// Returns whether anything was replaced.
bool ReplaceControlBytes(std::string& text);

}  // namespace torvane
