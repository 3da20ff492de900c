// Manual-reset event with Windows wait semantics: a wait returns 0 when the
// event is signalled and 0x102 when the time-out passed first.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kx {

constexpr uint32_t kWaitSignalled = 0;
constexpr uint32_t kWaitTimeout = 0x102;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool signalled) : signalled_(signalled) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    // 0 when signalled, 0x102 after timeoutMs (kInfinite waits for ever).
    uint32_t Wait(uint32_t timeoutMs);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_;
};

}  // namespace kx
