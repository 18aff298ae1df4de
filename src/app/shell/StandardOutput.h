#pragma once

#include <string>

namespace torvane {

// Writes to standard output. On a terminal it writes at once: the operator reads as it comes
// and the line editor draws around it. Elsewhere (a pipe, a file, the system journal) a writer
// thread does the writing from a bounded queue, so that a reader that stops reading never
// stalls the program: past the bound the newest text is dropped, and a notice says how much.
void WriteStandardOutput(const std::string& text);

// Waits a moment for the queue to be written (at exit).
void FlushStandardOutput();

}  // namespace torvane
