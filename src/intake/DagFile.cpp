#include "intake/DagFile.h"

#include "base/CalendarText.h"
#include "base/FileAppend.h"
#include "base/Logging.h"
#include "base/Texts.h"

namespace torvane {

void DagFile::AppendDagRecord(const std::string& box, const std::string& chip,
                              const std::string& raceTime) {
    const std::string record = Format("%d\t%s\t%s\t%d\t%s", state_.dagCounter, box.c_str(),
                                      chip.c_str(), 1, raceTime.c_str());
    const std::string failure = AppendWholeToFile(state_.dagPath, record + "\r\n");
    if (!failure.empty()) {
        // The record is not lost: the log file keeps it whole, and the next record that can be
        // written carries its number.
        Log(0, Format(Tr("$$$ DAG record not written (%s: %s): %s",
                         "$$$ Enregistrement DAG non écrit (%s : %s) : %s"),
                      state_.dagPath.c_str(), failure.c_str(), record.c_str()));
        return;
    }
    ++state_.dagCounter;
}

std::string DagFile::NewFilePath() {
    const std::string today = TodayDateText();
    return GetLogFolder() + "/Logs-" + today + "/Dag-" + today + "-" + NowTimeText() + ".dag";
}

void DagFile::StartRecording(const std::string& path) {
    state_.dagRecording = true;
    state_.dagPath = path;
    state_.dagCounter = 1;
}

void DagFile::StopRecording() {
    state_.dagRecording = false;
    state_.dagPath.clear();
    state_.dagCounter = 1;
}

}  // namespace torvane
