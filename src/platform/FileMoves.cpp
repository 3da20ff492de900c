#include "platform/FileMoves.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kx {

int RenameNoReplace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    // link() refuses a name that exists, like RENAME_NOREPLACE.
    if (::link(from, to) == 0) {
        ::unlink(from);
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP) return errno;
    // A file system with neither (some network shares): a look first, then a
    // plain rename, which leaves a moment in which another writer may win.
    struct stat status {};
    if (::lstat(to, &status) == 0) return EEXIST;
    return ::rename(from, to) == 0 ? 0 : errno;
}

int RenameReplacing(const char* from, const char* to) { return ::rename(from, to) == 0 ? 0 : errno; }

}  // namespace kx
