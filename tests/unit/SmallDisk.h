// A folder on which writing more than a few bytes fails as on a full disk,
// for this process and the programs it starts.
#pragma once

#include <cstddef>
#include <string>

namespace kxtest {

class SmallDisk {
public:
    // A tmpfs of `bytes` mounted on a fresh folder, in a private mount
    // namespace so that it goes with the process whatever happens. Where no
    // file system can be mounted (no privilege, a process with threads),
    // a plain folder and a limit on the size of every file the process
    // writes (RLIMIT_FSIZE, with SIGXFSZ ignored so that writes fail
    // instead of killing).
    SmallDisk(const std::string& name, size_t bytes);
    // Unmounts, or lifts the limit.
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    const std::string& Folder() const { return folder_; }
    // ENOSPC on the tmpfs, EFBIG under the limit.
    int Error() const;
    // The system's text for Error().
    std::string Reason() const;
    // How the folder is small, for the test's output.
    std::string Kind() const;

private:
    std::string folder_;
    bool mounted_ = false;
    bool limited_ = false;
};

}  // namespace kxtest
