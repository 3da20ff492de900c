#include "task/TaskKinds.h"

#include "input/DemuxTypes.h"

namespace kx {

StreamKind StreamKindOfMediaType(MediaType mediaType) {
    switch (mediaType) {
    case MediaType::kVideo:
        return StreamKind::kVideo;
    case MediaType::kAudio:
        return StreamKind::kAudio;
    case MediaType::kSubtitle:
        return StreamKind::kSubtitle;
    default:
        return StreamKind::kOther;
    }
}

}  // namespace kx
