// Giving a finished file its name. Plain POSIX, shared by the component and
// the remuxion program.
#pragma once

namespace kx {

// Renames `from` to `to` only when nothing is called `to` yet, atomically:
// two writers of one name cannot both win. 0, or the errno value (EEXIST
// when the name is taken). File systems without a no-replace rename get a
// hard link and an unlink, which is as safe; those without hard links too, a
// check for the name and a plain rename.
int RenameNoReplace(const char* from, const char* to);

// Renames `from` to `to`, replacing what `to` names (a link there is
// replaced, never followed). 0, or the errno value.
int RenameReplacing(const char* from, const char* to);

}  // namespace kx
