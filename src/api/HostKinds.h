// The host's numbers for the task layer's kinds (KX_TASK_*, KX_STREAM_*, the
// task option), translated here and nowhere else.
#pragma once

#include <cstdint>
#include <optional>

#include "task/TaskKinds.h"

namespace kx {

// KX_STREAM_VIDEO, _AUDIO and _SUBTITLE; any other number is kOther.
StreamKind StreamKindFromHost(int32_t kind);

// None for a task type this library does not know: it has no outputs and runs nothing.
std::optional<TaskKind> TaskKindFromHost(uint32_t taskType);

// Option 0 cuts exactly, any other on key frames.
CutPlacement CutPlacementFromHost(int32_t taskOption);

// KX_TASK_OPTION_SIZE_PIECES chains a split's size clips; any other option
// positions each at its own start.
SizeClipChain SizeClipChainFromHost(int32_t taskOption);

}  // namespace kx
