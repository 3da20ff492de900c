// Start, Pause, Resume, Stop and WaitForCompletion: the host's side of the
// worker thread.
#include "api/CStreamwright.h"
#include "task/TaskRun.h"

namespace kx {

void CStreamwright::WaitWhilePaused() const {
    while (state_.load() == kThreadPaused) Sleep(10);
}

bool CStreamwright::StopRequested() { return TaskFailed() || stopEvent_.Wait(0) == kWaitSignalled; }

void CStreamwright::Run() {
    RunTask(session_, *this);
    busy_ = 0;
}

HRESULT CStreamwright::Start() {
    if (busy_.load() || !session_.HasOutputFolder()) return KX_E_FAIL;
    busy_ = 1;
    taskFailed_ = false;
    if (!StartThread()) {
        busy_ = 0;
        return KX_E_FAIL;
    }
    return KX_S_OK;
}

HRESULT CStreamwright::Pause() {
    if (!busy_.load()) return KX_E_FAIL;
    if (state_.load() != kThreadRunning) return KX_S_OK;
    if (++pauseCount_ == 1) state_ = kThreadPaused;
    return KX_S_OK;
}

HRESULT CStreamwright::Resume() {
    if (!busy_.load()) return KX_E_FAIL;
    if (state_.load() != kThreadPaused) return KX_S_OK;
    if (pauseCount_.load() > 0 && --pauseCount_ == 0) state_ = kThreadRunning;
    return KX_S_OK;
}

HRESULT CStreamwright::Stop() {
    if (!busy_.load()) return KX_E_FAIL;
    if (!IsThreadActive()) return KX_S_OK;
    StopThread();
    if (IsThreadActive() || threadJoined_.load() == 0) {
        if (doneEvent_.Wait(kInfinite) == kWaitSignalled) JoinThread();
    }
    return KX_S_OK;
}

uint32_t CStreamwright::WaitForCompletion(uint32_t timeoutMs) {
    if (!IsThreadActive() && threadJoined_.load() != 0) return 0;
    uint32_t result = doneEvent_.Wait(timeoutMs);
    if (result != kWaitSignalled) return result;
    JoinThread();
    return 0;
}

}  // namespace kx
