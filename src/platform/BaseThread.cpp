#include "platform/BaseThread.h"

namespace kx {

BaseThread::BaseThread() = default;

BaseThread::~BaseThread() {
    StopAndJoin();
    pauseCount_ = 0;
    state_ = kThreadIdle;
    thread_.Close();
}

void BaseThread::Run() {
    for (;;) {
        while (state_.load() == kThreadPaused) Sleep(10);
        if (stopEvent_.Wait(0) == kWaitSignalled) return;
        Sleep(10);
    }
}

int BaseThread::StartThread() {
    if (IsThreadActive()) return 0;
    stopEvent_.Reset();
    doneEvent_.Reset();
    thread_.Close();
    // Set before the thread runs, so that the worker never sees a stale state.
    pauseCount_ = 0;
    state_ = kThreadRunning;
    threadJoined_ = 0;
    if (!thread_.Start(&BaseThread::ThreadEntry, this)) {
        state_ = kThreadIdle;
        threadJoined_ = 1;
        stopEvent_.Set();
        doneEvent_.Set();
        return 0;
    }
    Sleep(1);
    return 1;
}

uint32_t BaseThread::ThreadEntry(void* arg) {
    auto* self = static_cast<BaseThread*>(arg);
    self->Run();
    // The state changes before the done event, so that a waiter released by
    // the event never still sees the thread as active.
    self->state_ = kThreadFinished;
    self->doneEvent_.Set();
    return 0;
}

bool BaseThread::IsThreadActive() const {
    uint32_t state = state_.load();
    return state == kThreadRunning || state == kThreadPaused;
}

int BaseThread::StopThread() {
    if (!IsThreadActive()) return 0;
    stopEvent_.Set();
    if (pauseCount_.load() < 1) return 1;
    while (IsThreadActive() && pauseCount_.load() > 0) {
        if (--pauseCount_ == 0) state_ = kThreadRunning;
    }
    pauseCount_ = 0;
    if (state_.load() == kThreadPaused) state_ = kThreadRunning;
    return 1;
}

void BaseThread::JoinThread() {
    thread_.Join();
    threadJoined_ = 1;
}

void BaseThread::StopAndJoin() {
    StopThread();
    if (threadJoined_.load() == 0) {
        doneEvent_.Wait(kInfinite);
        JoinThread();
    }
}

}  // namespace kx
