#pragma once

#include <QString>
#include <string>

namespace torvane {

// Bytes from a peer or a file, shown as text: UTF-8 when they are valid UTF-8,
// Windows-1252 otherwise.
QString DisplayText(const std::string& bytes);

}  // namespace torvane
