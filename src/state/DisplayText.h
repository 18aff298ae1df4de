#pragma once

#include <QString>
#include <string_view>

namespace torvane {

// Bytes from a peer or a file, shown as text: UTF-8 when they are valid UTF-8,
// Windows-1252 otherwise.
QString DisplayText(std::string_view bytes);

}  // namespace torvane
