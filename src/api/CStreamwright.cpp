#include "api/CStreamwright.h"

#include <cstring>
#include <new>

#include "api/CMergeLossCopyCheckInfo.h"
#include "platform/WideString.h"

namespace scombase {
CUnknown* CreateStreamwright(IUnknown* outer, HRESULT* status) { return kx::CStreamwright::Create(outer, status); }
}  // namespace scombase

namespace kx {

namespace {
constexpr size_t kOutputPathChars = 2048;
constexpr size_t kOutputExtensionChars = 256;

// A zeroed buffer of `capacity` characters holding as much of text as fits.
std::unique_ptr<char16_t[]> CopyToBuffer(const char16_t* text, size_t capacity) {
    std::unique_ptr<char16_t[]> buffer(new (std::nothrow) char16_t[capacity]());
    if (buffer) WideCopy(buffer.get(), capacity, text);
    return buffer;
}
}  // namespace

CStreamwright::CStreamwright() { Reset(); }

CStreamwright::~CStreamwright() {
    // The worker uses the file list and the outputs: end it before they go.
    StopAndJoin();
    Reset();
    outputPath_.reset();
    if (mergeCheckResult_) mergeCheckResult_->Release();
    mergeCheckResult_ = nullptr;
    outputExtension_.reset();
    mergeGroups_.clear();
    files_.clear();
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

FileRecord* CStreamwright::FindFile(int64_t fileId) {
    for (auto& file : files_)
        if (file.fileId == fileId) return &file;
    return nullptr;
}

HRESULT CStreamwright::SetOutputPath(BSTR path) {
    if (busy_.load()) return KX_E_FAIL;
    outputPath_.reset();
    if (!path) return KX_E_POINTER;
    outputPath_ = CopyToBuffer(path, kOutputPathChars);
    return outputPath_ ? KX_S_OK : KX_E_OUTOFMEMORY;
}

HRESULT CStreamwright::SetOutputExtension(BSTR extension) {
    if (!extension) return KX_E_POINTER;
    outputExtension_ = CopyToBuffer(extension, kOutputExtensionChars);
    return outputExtension_ ? KX_S_OK : KX_E_OUTOFMEMORY;
}

HRESULT CStreamwright::GetClip(int64_t fileId, uint64_t clipIndex, ClipRange* out) {
    if (!out) return KX_S_FALSE;
    FileRecord* file = FindFile(fileId);
    if (!file || clipIndex >= file->clips.size()) return KX_S_FALSE;
    *out = file->clips[clipIndex].range;
    return KX_S_OK;
}

HRESULT CStreamwright::GetTimeClip(int64_t fileId, uint64_t clipIndex, ClipRange* out) {
    return GetClip(fileId, clipIndex, out);
}

HRESULT CStreamwright::GetSizeClip(int64_t fileId, uint64_t clipIndex, ClipRange* out) {
    return GetClip(fileId, clipIndex, out);
}

HRESULT CStreamwright::SetClip(int64_t fileId, int64_t clipIndex, const ClipRange* clip) {
    if (busy_.load()) return KX_E_FAIL;
    FileRecord* file = FindFile(fileId);
    if (!file || clipIndex < 0 || static_cast<uint64_t>(clipIndex) >= file->clips.size()) return KX_S_FALSE;
    if (!clip) return KX_E_POINTER;
    file->clips[clipIndex].range = *clip;
    return KX_S_OK;
}

int64_t CStreamwright::GetClipCount(int64_t fileId) {
    FileRecord* file = FindFile(fileId);
    if (!file) return KX_E_INVALIDARG;
    return static_cast<int64_t>(file->clips.size());
}

HRESULT CStreamwright::SetCallback(TaskCallback callback, void* context, int32_t which) {
    if (which == 0) {
        taskCallback_ = callback;
        taskContext_ = context;
    } else if (which == 1) {
        keyFrameCallback_ = callback;
        keyFrameContext_ = context;
    }
    return KX_S_OK;
}

HRESULT CStreamwright::SetTaskType(uint32_t taskType, int32_t taskOption) {
    if (busy_.load()) return KX_E_FAIL;
    taskType_ = taskType;
    taskOption_ = taskOption;
    return KX_S_OK;
}

HRESULT CStreamwright::GetTaskType(uint32_t* taskType, int32_t* taskOption) {
    if (taskType) *taskType = taskType_;
    if (taskOption) *taskOption = taskOption_;
    return KX_S_OK;
}

int64_t CStreamwright::GetOutputCount(int64_t fileId) {
    outputCount_ = 0;
    if (taskType_ == KX_TASK_MERGE || taskType_ == KX_TASK_STREAM_MIX) {
        outputCount_ = 1;
        return 1;
    }
    if (taskType_ == KX_TASK_SPLIT) {
        FileRecord* file = FindFile(fileId);
        if (!file) return 0;
        outputCount_ = static_cast<int64_t>(file->clips.size());
        return outputCount_;
    }
    return 0;
}

}  // namespace kx
