#include "SmallDisk.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "TaskTestSupport.h"

namespace kxtest {

namespace {

rlimit g_savedLimit{};
void (*g_savedHandler)(int) = SIG_DFL;

// Once per process: later mounts stay private to it.
bool PrivateMounts() {
    static const bool made =
        unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return made;
}

}  // namespace

SmallDisk::SmallDisk(const std::string& name, size_t bytes) : folder_(TempFolder(name)) {
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ = PrivateMounts() && mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (mounted_) return;
    getrlimit(RLIMIT_FSIZE, &g_savedLimit);
    rlimit small = g_savedLimit;
    small.rlim_cur = bytes;
    limited_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
    g_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
}

SmallDisk::~SmallDisk() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
    if (limited_) setrlimit(RLIMIT_FSIZE, &g_savedLimit);
    if (!mounted_) std::signal(SIGXFSZ, g_savedHandler);
}

int SmallDisk::Error() const { return mounted_ ? ENOSPC : EFBIG; }

std::string SmallDisk::Reason() const { return std::strerror(Error()); }

std::string SmallDisk::Kind() const { return mounted_ ? "a small tmpfs" : "a file size limit"; }

}  // namespace kxtest
