#include "platform/Event.h"

#include <chrono>

namespace kx {

void ManualResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

uint32_t ManualResetEvent::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    // A poll (the engines test the stop event before every packet) only
    // looks: a zero-length condition wait still enters the kernel, and on a
    // busy machine each such call can cost the thread its time slice.
    if (timeoutMs == 0) return signalled_ ? kWaitSignalled : kWaitTimeout;
    if (timeoutMs == kInfinite) {
        cv_.wait(lock, [this] { return signalled_; });
        return kWaitSignalled;
    }
    bool ok = cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
    return ok ? kWaitSignalled : kWaitTimeout;
}

}  // namespace kx
