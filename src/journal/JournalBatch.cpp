#include "journal/JournalBatch.h"

#include <iterator>

namespace torvane {

void JournalBatch::Append(JournalBatch&& later) {
    entries.insert(entries.end(), std::make_move_iterator(later.entries.begin()),
                   std::make_move_iterator(later.entries.end()));
    lines.insert(lines.end(), std::make_move_iterator(later.lines.begin()),
                 std::make_move_iterator(later.lines.end()));
    detections.insert(detections.end(), std::make_move_iterator(later.detections.begin()),
                      std::make_move_iterator(later.detections.end()));
    if (later.sentSeq > sentSeq) {
        sentSeq = later.sentSeq;
        sentMs = later.sentMs;
    }
    later.Clear();
}

void JournalBatch::Clear() {
    constexpr std::size_t kKept = 1024;
    if (entries.capacity() > kKept) {
        std::vector<Entry>().swap(entries);
        std::vector<Line>().swap(lines);
    } else {
        entries.clear();
        lines.clear();
    }
    detections.clear();
    sentSeq = 0;
    sentMs = 0;
}

}  // namespace torvane
