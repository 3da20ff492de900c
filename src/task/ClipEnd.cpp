#include "task/Engines.h"

namespace kx {

EngineEnd EndClip(TaskHost& host, TaskCursor* cursor, ClipOutcome outcome) {
    host.Notify(KX_NOTIFY_CLIP_END, cursor, 0);
    if (outcome == ClipOutcome::kRanOut) host.Notify(KX_NOTIFY_INPUT_ENDED, cursor, 0);
    return outcome == ClipOutcome::kStopped ? EngineEnd::kStopped : EngineEnd::kFinished;
}

}  // namespace kx
