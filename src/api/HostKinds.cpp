#include "api/HostKinds.h"

#include "KX_Remuxion.h"

namespace kx {

StreamKind StreamKindFromHost(int32_t kind) {
    switch (kind) {
    case KX_STREAM_VIDEO:
        return StreamKind::kVideo;
    case KX_STREAM_AUDIO:
        return StreamKind::kAudio;
    case KX_STREAM_SUBTITLE:
        return StreamKind::kSubtitle;
    default:
        return StreamKind::kOther;
    }
}

std::optional<TaskKind> TaskKindFromHost(uint32_t taskType) {
    switch (taskType) {
    case KX_TASK_SPLIT:
        return TaskKind::kSplit;
    case KX_TASK_MERGE:
        return TaskKind::kMerge;
    case KX_TASK_STREAM_MIX:
        return TaskKind::kStreamMix;
    default:
        return std::nullopt;
    }
}

CutPlacement CutPlacementFromHost(int32_t taskOption) {
    if (taskOption == KX_TASK_OPTION_EXACT_FRAMES) return CutPlacement::kReencodeEdges;
    return taskOption == 0 ? CutPlacement::kExact : CutPlacement::kKeyFrame;
}

SizeClipChain SizeClipChainFromHost(int32_t taskOption) {
    return taskOption == KX_TASK_OPTION_SIZE_PIECES ? SizeClipChain::kFollowOn : SizeClipChain::kPositioned;
}

}  // namespace kx
