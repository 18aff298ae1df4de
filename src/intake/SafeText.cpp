#include "intake/SafeText.h"

namespace torvane {

bool ReplaceControlBytes(std::string& text) {
    bool replaced = false;
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
            replaced = true;
        }
    }
    return replaced;
}

}  // namespace torvane
