// Collects the component's log lines (through KX_SetLogSink) so that a
// failure can be explained in one message instead of a wall of diagnostics.
#pragma once

#include <string>
#include <vector>

namespace kxcli {

// Installs the sink; lines are kept in memory (the most recent few thousand).
void CaptureLibraryLog();

// Lines logged since the last call, as UTF-8 without line ends.
std::vector<std::string> TakeLibraryLog();

}  // namespace kxcli
