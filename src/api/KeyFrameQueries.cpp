// The key-frame index of a file, built on the calling thread, and its cancel.
#include <cstdlib>

#include "api/CStreamwright.h"
#include "input/DemuxerHolder.h"
#include "input/ITDemuxer.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "task/FileReaders.h"

namespace kx {

namespace {

// Appends to a host list whose array grows with realloc.
bool AppendToHostList(KeyFrameList* list, const KeyFrameRecord& record) {
    if (list->count >= list->capacity || !list->items) {
        int64_t capacity = list->capacity > 0 ? list->capacity * 2 : 256;
        if (capacity <= list->count) capacity = list->count + 256;
        auto* grown = static_cast<KeyFrameRecord*>(std::realloc(list->items, sizeof(KeyFrameRecord) * capacity));
        if (!grown) return false;
        list->items = grown;
        list->capacity = capacity;
    }
    list->items[list->count++] = record;
    return true;
}

}  // namespace

int32_t CStreamwright::ReportKeyFrameProgress(int32_t, int64_t percent, int64_t, void* context) {
    auto* self = static_cast<CStreamwright*>(context);
    if (!self || !self->keyFrameCallback_) return -1;
    TaskCursor cursor{self->keyFrameCookie_.load(), -1};
    auto send = [&](int32_t code, int32_t value) {
        self->keyFrameCallback_(self->keyFrameContext_, code, &cursor, value);
    };
    if (percent == 0) {
        send(KX_NOTIFY_KEYFRAME_BEGIN, 0);
    } else if (percent == 100) {
        send(KX_NOTIFY_KEYFRAME_PROGRESS, 100);
        send(KX_NOTIFY_KEYFRAME_DONE, 100);
    } else {
        send(KX_NOTIFY_KEYFRAME_PROGRESS, static_cast<int32_t>(percent));
    }
    return static_cast<int32_t>(percent);
}

HRESULT CStreamwright::GetFileKeyFrameIndex(int64_t fileId, KeyFrameList** list) {
    FileRecord* file = FindFile(fileId);
    if (!file || !file->input) return KX_S_FALSE;
    ITAnalyze* analyze = AnalyzeOf(*file);
    const SelectedStream* video = FirstVideoStream(*file);
    if (!analyze || !video) return KX_S_FALSE;
    int streamIndex = static_cast<int>(video->streamIndex);
    analyze->SetProgressCallback(streamIndex, &CStreamwright::ReportKeyFrameProgress, this);
    keyFrameCookie_ = fileId;
    // The analysis keeps appending scans to one index: take this scan's records only.
    int32_t firstNew = 0;
    KeyFrameIndex* index = analyze->GetKeyFrameIndex(streamIndex);
    if (!index) return KX_S_FALSE;
    for (int32_t i = index->lastIndex; i > 0; --i) {
        if (index->entries[i].keyFrameNumber == 0) {
            firstNew = i;
            break;
        }
    }
    LogFormat(legacy::kKeyFrameIndex);
    file->keyFrameCount = 0;
    file->keyFrames.clear();
    KeyFrameList* hostList = list ? *list : nullptr;
    for (int32_t i = firstNew; i <= index->lastIndex; ++i) {
        const KeyFrameRecord& record = index->entries[i];
        ++file->keyFrameCount;
        file->keyFrames.push_back(record);
        if (hostList) AppendToHostList(hostList, record);
    }
    return KX_S_OK;
}

HRESULT CStreamwright::GetKeyFramesNear(int64_t fileId, const std::vector<int64_t>& times, KeyFrameList* list) {
    FileRecord* file = FindFile(fileId);
    if (!file || !file->input) return KX_S_FALSE;
    ITAnalyze* analyze = AnalyzeOf(*file);
    const SelectedStream* video = FirstVideoStream(*file);
    if (!analyze || !video) return KX_S_FALSE;
    auto near = analyze->GetKeyFramesAround(static_cast<int>(video->streamIndex), times);
    if (!near || near->empty()) {
        if (GetFileKeyFrameIndex(fileId, &list) != KX_S_OK) return KX_S_FALSE;
        return file->keyFrames.empty() ? KX_S_FALSE : KX_S_OK;
    }
    for (const KeyFrameRecord& record : *near)
        if (!AppendToHostList(list, record)) return KX_E_OUTOFMEMORY;
    return KX_S_OK;
}

HRESULT CStreamwright::CancelKeyFrameIndex(int64_t fileId) {
    FileRecord* file = FindFile(fileId);
    if (!file) return KX_S_FALSE;
    ITAnalyze* analyze = AnalyzeOf(*file);
    const SelectedStream* video = FirstVideoStream(*file);
    if (analyze && video) analyze->Cancel(static_cast<int>(video->streamIndex));
    return KX_S_OK;
}

}  // namespace kx

extern "C" KX_EXPORT HRESULT KX_GetKeyFramesNear(IStreamwright* converter, int64_t fileId, const int64_t* times,
                                                 int32_t count, KeyFrameList* list) {
    kx::CStreamwright* object = kx::ConverterOf(converter);
    if (!object || !list || (count > 0 && !times)) return KX_E_POINTER;
    if (count < 0) return KX_E_INVALIDARG;
    if (object->Busy()) return KX_E_FAIL;
    return object->GetKeyFramesNear(fileId, std::vector<int64_t>(times, times + count), list);
}

extern "C" KX_EXPORT void KX_FreeKeyFrameList(KeyFrameList* list) {
    if (!list) return;
    std::free(list->items);
    list->items = nullptr;
    list->count = 0;
    list->capacity = 0;
}
