// Worker threads, Sleep and file deletion: the few kernel services we need.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace kx {

// A joinable OS thread running fn(arg). Start returns false when the thread
// could not be created.
class OsThread {
public:
    using Routine = uint32_t (*)(void* arg);
    OsThread() = default;
    ~OsThread();
    OsThread(const OsThread&) = delete;
    OsThread& operator=(const OsThread&) = delete;

    bool Start(Routine routine, void* arg);
    // Waits for the thread to end; harmless when there is none.
    void Join();
    bool Started() const { return thread_ != nullptr; }
    // Forgets an ended thread (the handle is "closed").
    void Close();

private:
    std::unique_ptr<std::thread> thread_;
};

void Sleep(uint32_t ms);

// Deletes a file named by a UTF-16 path; true on success.
bool DeleteFileW(const char16_t* path);

// Whether the UTF-16 path names something that exists but is not a regular
// file: a folder, a pipe, a socket or a device.
bool NamesNonRegularFile(const char16_t* path);

// Whether both paths name one existing file (device and inode, links followed).
bool IsSameFile(const std::u16string& a, const std::u16string& b);

// Whether the UTF-16 path names an existing pipe or socket, whose opening
// waits for the other end.
bool NamesPipeOrSocket(const char16_t* path);

}  // namespace kx
