#include "platform/Thread.h"

#include <chrono>
#include <string>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/WideString.h"

namespace kx {

OsThread::~OsThread() { Join(); }

bool OsThread::Start(Routine routine, void* arg) {
    Join();
    try {
        thread_ = std::make_unique<std::thread>([routine, arg] { routine(arg); });
    } catch (const std::system_error&) {
        thread_.reset();
        return false;
    }
    return true;
}

void OsThread::Join() {
    if (thread_ && thread_->joinable() && thread_->get_id() != std::this_thread::get_id()) thread_->join();
}

void OsThread::Close() {
    if (!thread_) return;
    if (thread_->joinable()) {
        if (thread_->get_id() == std::this_thread::get_id())
            thread_->detach();
        else
            thread_->join();
    }
    thread_.reset();
}

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool DeleteFileW(const char16_t* path) {
    if (!path) return false;
    std::string name = WideToUtf8(path, WideLength(path));
    return ::unlink(name.c_str()) == 0;
}

namespace {
// The mode of what the path names (links followed); false when nothing is there.
bool ModeOf(const char16_t* path, mode_t* mode) {
    struct stat status {};
    if (!path || ::stat(WideToUtf8(path, WideLength(path)).c_str(), &status) != 0) return false;
    *mode = status.st_mode;
    return true;
}
}  // namespace

bool NamesNonRegularFile(const char16_t* path) {
    mode_t mode = 0;
    return ModeOf(path, &mode) && !S_ISREG(mode);
}

bool IsSameFile(const std::u16string& a, const std::u16string& b) {
    struct stat first {};
    struct stat second {};
    if (::stat(WideToUtf8(a).c_str(), &first) != 0 || ::stat(WideToUtf8(b).c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool NamesPipeOrSocket(const char16_t* path) {
    mode_t mode = 0;
    return ModeOf(path, &mode) && (S_ISFIFO(mode) || S_ISSOCK(mode));
}

}  // namespace kx
