#pragma once

#include <string>

namespace torvane {

class Core;

// The folder, beside the settings, where the journals of earlier races are kept.
std::string KeptJournalsFolder();

// "Nouvelle course": the race's journal is closed and kept in the kept journals' folder under
// the local time of its first passing (of now when it has none), and a new empty journal
// starts. Refused, with the reason in `message`, while detections wait for the host or while
// the journal cannot be written or is being read; the journal then stays as it was.
bool StartNewRace(Core& core, std::string& message);

// The question asked before a new race starts.
std::string NewRaceQuestion();
// The command of the windows and the tray menu: asks, starts the new race on a yes, and shows
// what came of it; true when it started.
bool AskAndStartNewRace(Core& core);

// What `status` tells of the race's journal: when it began, its passings and its size.
std::string RaceJournalText(Core& core);

}  // namespace torvane
