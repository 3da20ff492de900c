// The component's log lines are for hosts that keep a log; this program
// tells its user one sentence per failure (from KX_GetLastErrorText), so it
// takes the lines off the terminal.
#pragma once

namespace kxcli {

// Installs a sink (through KX_SetLogSink) that drops every line.
void SilenceLibraryLog();

}  // namespace kxcli
