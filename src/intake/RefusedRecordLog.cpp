#include "intake/RefusedRecordLog.h"

#include "base/Logging.h"
#include "base/Texts.h"

namespace torvane {

void RefusedRecordLog::Refuse(std::string line) {
    if (!inMessage_) {
        Log(0, std::move(line));
        return;
    }
    if (refused_++ == 0) firstLine_ = std::move(line);
}

void RefusedRecordLog::EndMessage() {
    inMessage_ = false;
    const std::size_t refused = std::exchange(refused_, 0);
    std::string line = std::exchange(firstLine_, {});
    if (refused == 0) return;
    if (refused > 1) {
        while (!line.empty() && line.back() == '\n') line.pop_back();
        line += Format(Tr(" (%zu records of this message refused, the first shown)",
                          " (%zu enregistrements de ce message refusés, le premier est montré)"),
                       refused);
    }
    Log(0, std::move(line));
}

}  // namespace torvane
