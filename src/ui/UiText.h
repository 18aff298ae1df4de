#pragma once

#include <QString>

#include "base/Texts.h"

namespace torvane {

// A text of the program in the language it shows, for a widget.
inline QString Text(const char* english, const char* french) {
    return QString::fromUtf8(Tr(english, french));
}

}  // namespace torvane
