#include "task/TaskKinds.h"

#include "input/DemuxTypes.h"

namespace kx {

StreamKind StreamKindOfMediaType(int32_t mediaType) {
    switch (mediaType) {
    case kMediaVideo:
        return StreamKind::kVideo;
    case kMediaAudio:
        return StreamKind::kAudio;
    default:
        return StreamKind::kOther;
    }
}

}  // namespace kx
