// Ctrl-C: the first one asks the running work to stop (the main thread
// polls for it); a second one ends the program at once.
#pragma once

namespace kxcli {

void InstallInterruptHandler();
bool Interrupted();

}  // namespace kxcli
