#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "journal/JournalEntry.h"

namespace torvane {

// What one commit writes: the passings and host lines added since the last one, and the
// highest line known to have reached the host.
struct JournalBatch {
    struct Entry {
        std::int64_t id;
        std::int64_t key;
        JournalEntry entry;
    };
    struct Line {
        std::int64_t seq;
        std::int64_t passingId;
        std::string text;
        std::string asBib;  // the bib an unknown chip's passing is sent again with
    };

    // A detection made later of a passing journaled without one (the operator sent it on
    // purpose after the flow was closed).
    struct Detection {
        std::int64_t passingId;
        std::string bib;
        std::string raceTime;
    };

    std::vector<Entry> entries;
    std::vector<Line> lines;
    std::vector<Detection> detections;
    std::int64_t sentSeq = 0;  // 0: no line marked
    std::int64_t sentMs = 0;

    bool Empty() const {
        return entries.empty() && lines.empty() && detections.empty() && sentSeq == 0;
    }
    // A later batch goes after this one (what gathered behind a commit that failed).
    void Append(JournalBatch&& later);
    // Empties the batch; a flood's large buffers are given back rather than kept.
    void Clear();
};

}  // namespace torvane
