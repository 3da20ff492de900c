// Slots whose subsystems are not in yet: they answer as on a converter
// whose inputs cannot be read.
#include "converter/CStreamwright.h"
#include "converter/DemuxerHolder.h"

namespace kx {

void MuxerDeleter::operator()(CTMuxer*) const {}

HRESULT CStreamwright::OpenStream(int64_t fileId, int32_t, int32_t) { return FindFile(fileId) ? KX_E_FAIL : KX_S_FALSE; }
HRESULT CStreamwright::StartDemuxers() { return KX_S_OK; }
HRESULT CStreamwright::PrepareTask() { return KX_E_FAIL; }
uint32_t CStreamwright::CheckFileSeekable(int64_t) { return 0; }
HRESULT CStreamwright::ReopenFiles() {
    busy_ = 0;
    return KX_S_OK;
}
IMerge_LossCopy_Check_Info* CStreamwright::CheckMerge() { return nullptr; }
HRESULT CStreamwright::GetFileKeyFrameIndex(int64_t, KeyFrameList**) { return KX_S_FALSE; }
ILossCopyMediaInfo* CStreamwright::GetFileMediaInfo(int64_t) { return nullptr; }
HRESULT CStreamwright::GetStream(int64_t, int32_t, int32_t, IMediaStreamEx**) { return KX_S_FALSE; }
HRESULT CStreamwright::CancelKeyFrameIndex(int64_t fileId) { return FindFile(fileId) ? KX_S_OK : KX_S_FALSE; }
void CStreamwright::RunTask() {}

}  // namespace kx

extern "C" KX_EXPORT void KX_FreeKeyFrameList(KeyFrameList* list) {
    if (!list) return;
    free(list->items);
    list->items = nullptr;
    list->count = 0;
    list->capacity = 0;
}
