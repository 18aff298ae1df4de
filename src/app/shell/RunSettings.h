#pragma once

#include <string>

#include "app/shell/CommandLine.h"

namespace torvane {

// Puts in place what the command line sets for this run only, before any setting is read: the
// data folder of --data-dir and the ports of --mylaps-port and --ostrak-port. Empty on success,
// why the data folder cannot be used otherwise.
std::string ApplyRunSettings(const CommandLine& line);

}  // namespace torvane
