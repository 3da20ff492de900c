#include "api/CStreamwright.h"

#include <cstring>
#include <new>

#include "api/CMergeLossCopyCheckInfo.h"
#include "api/HostKinds.h"
#include "platform/WideString.h"
#include "task/TaskSetup.h"

namespace scombase {
CUnknown* CreateStreamwright(IUnknown* outer, HRESULT* status) { return kx::CStreamwright::Create(outer, status); }
}  // namespace scombase

namespace kx {

namespace {
// The `which` of SetCallback.
constexpr int32_t kTaskCallback = 0;
constexpr int32_t kKeyFrameCallback = 1;
}  // namespace

CStreamwright::CStreamwright() { Reset(); }

CStreamwright::~CStreamwright() {
    // The worker uses the file list and the outputs: end it before they go.
    StopAndJoin();
    Reset();
    if (mergeCheckResult_) mergeCheckResult_->Release();
    mergeCheckResult_ = nullptr;
}

scombase::CUnknown* CStreamwright::Create(IUnknown* /*outer*/, HRESULT* status) {
    auto* object = new (std::nothrow) CStreamwright();
    if (!object) {
        if (status) *status = KX_E_OUTOFMEMORY;
        return nullptr;
    }
    static_cast<IStreamwright*>(object)->AddRef();
    if (status) *status = KX_S_OK;
    return object;
}

HRESULT CStreamwright::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return KX_E_POINTER;
    if (scombase::IsEqualGuid(riid, IID_IStreamwright)) return GetInterface(static_cast<IStreamwright*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

void CStreamwright::Notify(int32_t code, TaskCursor* cursor, int32_t value) {
    if (taskCallback_) taskCallback_(taskContext_, code, cursor, value);
}

HRESULT CStreamwright::SetOutputPath(BSTR path) {
    if (busy_.load()) return KX_E_FAIL;
    if (!path) {
        session_.SetOutputFolder(std::nullopt);
        return KX_E_POINTER;
    }
    session_.SetOutputFolder(std::u16string_view(path, WideLength(path)));
    return KX_S_OK;
}

HRESULT CStreamwright::SetOutputExtension(BSTR extension) {
    if (!extension) return KX_E_POINTER;
    session_.SetOutputExtension(std::u16string_view(extension, WideLength(extension)));
    return KX_S_OK;
}

HRESULT CStreamwright::GetClip(int64_t fileId, uint64_t clipIndex, ClipRange* out) {
    if (!out) return KX_S_FALSE;
    const ClipRange* clip = session_.Clip(fileId, clipIndex);
    if (!clip) return KX_S_FALSE;
    *out = *clip;
    return KX_S_OK;
}

HRESULT CStreamwright::GetTimeClip(int64_t fileId, uint64_t clipIndex, ClipRange* out) {
    return GetClip(fileId, clipIndex, out);
}

HRESULT CStreamwright::GetSizeClip(int64_t fileId, uint64_t clipIndex, ClipRange* out) {
    return GetClip(fileId, clipIndex, out);
}

int64_t CStreamwright::GetClipCount(int64_t fileId) {
    return session_.ClipCount(fileId).value_or(StatusInPlaceOfValue(KX_E_INVALIDARG));
}

HRESULT CStreamwright::SetCallback(TaskCallback callback, void* context, int32_t which) {
    if (which == kTaskCallback) {
        taskCallback_ = callback;
        taskContext_ = context;
    } else if (which == kKeyFrameCallback) {
        keyFrameCallback_ = callback;
        keyFrameContext_ = context;
    }
    return KX_S_OK;
}

HRESULT CStreamwright::SetTaskType(uint32_t taskType, int32_t taskOption) {
    if (busy_.load()) return KX_E_FAIL;
    taskType_ = taskType;
    taskOption_ = taskOption;
    session_.SetTask(TaskKindFromHost(taskType), CutPlacementFromHost(taskOption), SizeClipChainFromHost(taskOption));
    return KX_S_OK;
}

HRESULT CStreamwright::GetTaskType(uint32_t* taskType, int32_t* taskOption) {
    if (taskType) *taskType = taskType_;
    if (taskOption) *taskOption = taskOption_;
    return KX_S_OK;
}

int64_t CStreamwright::GetOutputCount(int64_t fileId) { return session_.CountOutputs(fileId); }

HRESULT CStreamwright::GetOutputFileName(int64_t fileId, int64_t outputIndex, BSTR* name) {
    if (!name) return KX_E_POINTER;
    *name = nullptr;
    const OutputNameAnswer answer = session_.OutputName(fileId, outputIndex);
    switch (answer.refusal) {
    case NameRefusal::kNone:
        break;
    case NameRefusal::kOutOfRange:
        return KX_E_INVALIDARG;
    case NameRefusal::kUnnamed:
        return KX_E_FAIL;
    }
    *name = SysAllocString(answer.name.c_str());
    return *name ? KX_S_OK : KX_E_OUTOFMEMORY;
}

IMerge_LossCopy_Check_Info* CStreamwright::CheckMerge() {
    TaskSetup(session_, *this).GroupForMerge();
    if (!mergeCheckResult_) mergeCheckResult_ = CMergeLossCopyCheckInfo::Create();
    if (!mergeCheckResult_) return nullptr;
    mergeCheckResult_->AddRef();
    mergeCheckResult_->Fill(session_.MergeGroups());
    return mergeCheckResult_;
}

HRESULT CStreamwright::PrepareTask() {
    ClearFailure();
    return TaskSetup(session_, *this).PrepareTask();
}

}  // namespace kx
