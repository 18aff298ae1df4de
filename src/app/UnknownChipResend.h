#pragma once

#include <string>
#include <vector>

#include "journal/JournalExport.h"

namespace torvane {

class Core;

// A passing forwarded under its chip code that the chip table now gives a bib.
struct NowKnownDetection {
    UnknownChipDetection detection;
    int bib = 0;
};

// The passings of this race's journal that went to the host as chip codes and whose chips the
// loaded table now holds, not yet sent again with their bibs; what was added so far is
// committed first. Nothing, with the reason, when the journal cannot be read.
std::vector<NowKnownDetection> UnknownChipsNowKnown(Core& core, std::string& error);

// After a chip-table load: a "+++" line says how many such passings there are, if any.
std::size_t AnnounceUnknownChipsNowKnown(Core& core);

// Sends each of them once more as the numbered line of its bib (same source and race time),
// through the outbox; the journal keeps which, so that a later call sends them no more. False
// with the reason when the journal cannot be read; `message` says what was done.
bool ResendUnknownChips(Core& core, std::string& message);

// The window's offer after a reload: asks with the count, and sends them on Yes.
void OfferUnknownChipResend(Core& core);

}  // namespace torvane
