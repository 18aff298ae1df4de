#pragma once

#include <string>

#include "state/RunningState.h"

namespace torvane {

// The DAG detection file: untranslated passings appended as tab-separated records while
// recording is on. The file is opened and closed for every record; a record that cannot be
// written whole is left out of the file and logged whole instead.
class DagFile {
public:
    explicit DagFile(RunningState& state) : state_(state) {}

    void AppendDagRecord(const std::string& box, const std::string& chip,
                         const std::string& raceTime);

    // The path of a new file started now: day folder + "/Dag-YYYYMMDD-HHMMSS.dag".
    static std::string NewFilePath();

    void StartRecording(const std::string& path);
    void StopRecording();

private:
    RunningState& state_;
};

}  // namespace torvane
