/*
 * Compiled as C only: the public header's information interfaces and records
 * must be usable from plain C with the same layout as in C++.
 */
#include <stddef.h>

#include "KX_Remuxion.h"

_Static_assert(sizeof(MediaFrameRecord) == 136, "MediaFrameRecord layout in C");
_Static_assert(offsetof(MediaFrameRecord, video.planar.width) == 56, "MediaFrameRecord layout in C");
_Static_assert(offsetof(MediaFrameRecord, video.keyFrame) == 80, "MediaFrameRecord layout in C");
_Static_assert(offsetof(MediaFrameRecord, audio.capacity) == 36, "MediaFrameRecord layout in C");
_Static_assert(offsetof(MediaFrameRecord, decodeTime) == 112, "MediaFrameRecord layout in C");
_Static_assert(sizeof(StreamRecord) == 560, "StreamRecord layout in C");
_Static_assert(offsetof(StreamRecord, audio) == 496, "StreamRecord layout in C");

/* Each interface called through its C vtable once; never run, only compiled. */
int64_t kx_c_header_check(IKXSample* sample, IStreamInfo* info, IStreamInfoSrc* source,
                          IMediaStreamEx* stream, ILossCopyMediaInfo* media) {
    int64_t sum = 0;
    MediaFrameRecord* record = sample->lpVtbl->GetFrameRecord(sample);
    sum += record ? record->video.planar.width : 0;
    sum += sample->lpVtbl->GetPresentationTime(sample) + sample->lpVtbl->ReleaseToOwner(sample);
    BSTR name = NULL;
    sum += info->lpVtbl->GetCodecName(info, &name);
    sum += info->lpVtbl->GetVideoFormat(info)->width + info->lpVtbl->GetExtraB(info);
    sum += source->lpVtbl->GetTimeBlock(source)[0] + source->lpVtbl->GetSourceFlags(source);
    IStreamInfo* streamInfo = NULL;
    sum += stream->lpVtbl->GetStreamInfo(stream, &streamInfo) + (int64_t)stream->lpVtbl->SeekStream(stream, 1.5);
    IUnknown* sampleObject = stream->lpVtbl->GetCurrentSample(stream);
    sum += sampleObject->lpVtbl->QueryInterface(sampleObject, &IID_IKXSample, (void**)&sample);
    sum += media->lpVtbl->GetInfo(media) != NULL;
    return sum + media->lpVtbl->Release(media);
}
