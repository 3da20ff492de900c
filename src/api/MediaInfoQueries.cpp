// A file's media information and decoding readers of its selected streams,
// answered on the calling thread.
#include "api/CFFMpegStream.h"
#include "api/CLossCopyMediaInfo.h"
#include "api/CStreamwright.h"
#include "api/HostKinds.h"
#include "input/CTMediaInfo.h"
#include "input/DemuxerHolder.h"
#include "input/ITDemuxer.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"

namespace kx {

namespace {
constexpr int kDecodedFrames = 1;  // decode mode of a stream object's demuxer
}

ILossCopyMediaInfo* CStreamwright::GetFileMediaInfo(int64_t fileId) {
    FileRecord* file = FindFile(fileId);
    if (!file || !file->input) return nullptr;
    LogFormat(legacy::kMediaInfoBegin);
    CTMediaInfo* reader = file->input->mediaInfo;
    const FileMediaInfo* info = reader ? reader->GetMediainfo() : nullptr;
    CLossCopyMediaInfo* object = CLossCopyMediaInfo::Create(info);  // comes with the caller's reference
    LogFormat(legacy::kMediaInfoEnd);
    return object;
}

HRESULT CStreamwright::GetStream(int64_t fileId, int32_t streamIndex, int32_t kind, IMediaStreamEx** stream) {
    FileRecord* file = FindFile(fileId);
    if (!file) return KX_S_FALSE;
    if (!stream) return KX_E_POINTER;
    *stream = nullptr;
    bool selected = false;
    const StreamKind wanted = StreamKindFromHost(kind);
    for (const auto& entry : file->selectedStreams)
        if (entry.streamIndex == streamIndex && entry.kind == wanted) selected = true;
    if (!selected) return KX_S_FALSE;

    // The stream object reads through a demuxer of its own.
    DemuxerHolder* holder = nullptr;
    if (CreateDemuxerHolder(&holder) < 0 || !holder) {
        LogFormat(legacy::kError, u"CreateDemuxer failed");
        return KX_E_FAIL;
    }
    // A reader that cannot open the file still makes a stream object, which
    // then reads nothing.
    if (OpenHolderSource(holder, InputSource::File(file->path, inputPolicy_), kDecodedFrames).Failed())
        LogFormat(legacy::kError, u"OpenDemuxer failed");
    if (holder->demuxer) {
        holder->demuxer->AddStream(streamIndex);
        holder->demuxer->StartDemuxer();
    }
    CFFMpegStream* object = CFFMpegStream::Create(holder, streamIndex, kind);  // owns the holder now
    if (!object) return KX_E_OUTOFMEMORY;
    *stream = static_cast<IMediaStreamEx*>(object);
    return KX_S_OK;
}

}  // namespace kx
