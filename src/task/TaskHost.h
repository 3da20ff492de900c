// What the set-up and the run of a task need from the converter that runs
// them: its notifications, the pause and stop protocol, the task's failure,
// and the few services of the converter a task uses.
#pragma once

#include <cstdint>

#include "KX_Remuxion.h"

namespace kx {

struct FailureReport;
struct OutputFailure;

class TaskHost {
public:
    // Sends a task notification to the host's callback, if one is set.
    virtual void Notify(int32_t code, TaskCursor* cursor, int32_t value) = 0;
    virtual void WaitWhilePaused() const = 0;
    // True once the host stopped the task or the task failed.
    virtual bool StopRequested() = 0;
    // Keeps the task's first failure (later ones add nothing) and makes
    // StopRequested true. Any thread.
    virtual void FailTask(const FailureReport& report) = 0;
    void FailTask(const OutputFailure& failure);
    virtual bool TaskFailed() const = 0;
    // KX_NOTIFY_TASK_FAILED with the failure's status when the task failed,
    // then KX_NOTIFY_TASK_END.
    virtual void NotifyTaskEnd(TaskCursor* cursor) = 0;
    // Builds the key-frame index of a file, with the key-frame notifications.
    virtual void IndexKeyFrames(int64_t fileId) = 0;
    // Opens every input afresh, as after a stopped split.
    virtual void ReopenInputs() = 0;
    // Forgets how the inputs ended; then, when the task's copying is done,
    // reports the inputs that ended early, which fails the task.
    virtual void ForgetInputEnds() = 0;
    virtual void CollectInputEnds() = 0;

protected:
    ~TaskHost() = default;
};

}  // namespace kx
