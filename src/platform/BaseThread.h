// The converter's worker thread, its stop and done events and run state.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Event.h"
#include "platform/Thread.h"

namespace kx {

enum ThreadState : uint32_t { kThreadIdle = 0, kThreadRunning = 1, kThreadPaused = 2, kThreadFinished = 3 };

class BaseThread {
public:
    BaseThread();
    virtual ~BaseThread();
    BaseThread(const BaseThread&) = delete;
    BaseThread& operator=(const BaseThread&) = delete;

    // 1 when a thread was started, 0 otherwise.
    int StartThread();
    bool IsThreadActive() const;
    // 0 when no thread was active, 1 otherwise (stop signalled, pauses released).
    int StopThread();

protected:
    // The thread body; the base one waits for the stop event.
    virtual void Run();

    // Stops the worker (if any) and waits until it has ended.
    void StopAndJoin();
    // Waits without time-out for the thread to end.
    void JoinThread();

    static uint32_t ThreadEntry(void* self);

    OsThread thread_;
    std::atomic<uint32_t> threadJoined_{1};
    ManualResetEvent stopEvent_{true};
    ManualResetEvent doneEvent_{true};
    std::atomic<uint32_t> pauseCount_{0};
    std::atomic<uint32_t> state_{kThreadIdle};
};

}  // namespace kx
