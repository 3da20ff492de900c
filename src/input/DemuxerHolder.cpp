// Creation and release of a file's reading side.
#include "input/DemuxerHolder.h"

#include <memory>
#include <new>

#include "caps/CodecNameTable.h"
#include "input/CTMediaInfo.h"
#include "input/CTMultiDemuxer.h"
#include "input/FilePassKeyFrames.h"
#include "media/MediaKernel.h"

namespace kx {

int InitDemuxerHolder(DemuxerHolder* holder) {
    if (!holder) return -1;
    InitMediaKernel();
    holder->kind = DemuxerKind::kMultiReader;
    BuildCodecNameTable();
    holder->demuxer = ::CreateMultiDemuxer();
    const int result = holder->demuxer ? holder->demuxer->Initialize() : -1;
    holder->mediaInfo = new (std::nothrow) CTMediaInfo();
    if (!holder->mediaInfo) return -1;
    // The description's packet count may find the key frames on its way.
    auto found = std::make_shared<FilePassKeyFrames>();
    holder->mediaInfo->ShareKeyFramesFound(found);
    if (auto* multi = dynamic_cast<CTMultiDemuxer*>(holder->demuxer)) multi->UseKeyFramesFound(found);
    return result;
}

int CreateDemuxerHolder(DemuxerHolder** out) {
    if (!out) return -1;
    *out = nullptr;
    auto* holder = new (std::nothrow) DemuxerHolder();
    if (!holder) return -1;
    if (InitDemuxerHolder(holder) != 0) {
        DestroyDemuxerHolder(holder);
        return -1;
    }
    *out = holder;
    return 0;
}

InputProblem OpenHolderSource(DemuxerHolder* holder, const InputSource& source, int decodeMode) {
    const InputProblem unreadable{InputFault::kUnreadable, "the reader could not be set up"};
    if (!holder || !holder->mediaInfo || !holder->demuxer) return unreadable;
    if (holder->mediaInfo->OpenMediaSource(source) != 0) {
        InputProblem problem = holder->mediaInfo->LastProblem();
        return problem.Failed() ? problem : unreadable;
    }
    auto* multi = dynamic_cast<CTMultiDemuxer*>(holder->demuxer);
    const int opened = multi ? multi->OpenSource(source, decodeMode) : holder->demuxer->Open(source.path.c_str(), decodeMode);
    return opened < 0 ? unreadable : InputProblem{};
}

void ShareOpenedFile(DemuxerHolder* holder) {
    if (!holder || !holder->mediaInfo) return;
    auto* multi = dynamic_cast<CTMultiDemuxer*>(holder->demuxer);
    if (!multi || !multi->Readers().empty()) return;
    multi->OfferOpenedContext(holder->mediaInfo->TakeOpenedContext());
}

void DestroyDemuxerHolder(DemuxerHolder* holder) {
    if (!holder) return;
    if (holder->mediaInfo) {
        holder->mediaInfo->CloseMediaFile();
        delete holder->mediaInfo;
        holder->mediaInfo = nullptr;
    }
    if (holder->demuxer) {
        holder->demuxer->Close();
        delete holder->demuxer;
        holder->demuxer = nullptr;
    }
    delete holder;
}

}  // namespace kx
