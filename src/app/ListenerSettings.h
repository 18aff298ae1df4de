#pragma once

#include "net/DetectionListener.h"

namespace torvane {

// Who may connect to the MyLaps port, from section "MyLaps" of the settings: "Listen" (the
// address to bind, empty for every interface), "AllowFrom" (addresses and CIDR ranges; empty
// lets everyone in) and "MaxSources" (64). Each is written back, so the file shows them; an
// entry that is not understood is named in a level-0 line.
ListenerOptions ReadListenerOptions();

}  // namespace torvane
