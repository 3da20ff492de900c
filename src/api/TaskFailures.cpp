// The failures of a task as the host sees them (its outputs, inputs that
// ended early): the task-failed notification, the reason text, and the
// output flags.
#include "api/CStreamwright.h"
#include "platform/KX_Log.h"
#include "platform/WideString.h"

namespace kx {

namespace {
constexpr uint32_t kKnownOutputFlags = KX_OUTPUT_REPLACE | KX_OUTPUT_SYNC;
}  // namespace

void CStreamwright::FailTask(const FailureReport& report) {
    {
        std::lock_guard<std::mutex> lock(failureMutex_);
        if (taskFailed_.load() && lastFailure_) return;
        lastFailure_ = report;
        taskFailed_ = true;
    }
    LogFormat(u"Task failed: %S\n", report.text.c_str());
}

void CStreamwright::NoteFailure(const FailureReport& report) {
    std::lock_guard<std::mutex> lock(failureMutex_);
    lastFailure_ = report;
}

void CStreamwright::ClearFailure() {
    std::lock_guard<std::mutex> lock(failureMutex_);
    lastFailure_.reset();
    taskFailed_ = false;
}

std::u16string CStreamwright::LastFailureText() {
    std::lock_guard<std::mutex> lock(failureMutex_);
    return lastFailure_ ? Utf8ToWide(lastFailure_->text) : std::u16string();
}

void CStreamwright::NotifyTaskEnd(TaskCursor* cursor) {
    if (TaskFailed()) {
        int32_t status = KX_E_FAIL;
        {
            std::lock_guard<std::mutex> lock(failureMutex_);
            if (lastFailure_) status = lastFailure_->status;
        }
        Notify(KX_NOTIFY_TASK_FAILED, cursor, status);
    }
    Notify(KX_NOTIFY_TASK_END, cursor, 0);
}

bool CStreamwright::IsOutputComplete(int64_t fileId, int64_t outputIndex) {
    if (outputIndex < 0) return false;
    if (session_.Kind() != TaskKind::kSplit) {
        const ClipTask* shared = session_.SharedOutputClip();
        return outputIndex == 0 && shared && shared->outputComplete;
    }
    FileRecord* file = FindFile(fileId);
    return file && static_cast<size_t>(outputIndex) < file->clips.size() && file->clips[outputIndex].outputComplete;
}

HRESULT CStreamwright::SetOutputOptions(uint32_t flags) {
    if (busy_.load()) return KX_E_FAIL;
    if (flags & ~kKnownOutputFlags) return KX_E_INVALIDARG;
    session_.SetOutputOptions(OutputFileOptions{.replace = (flags & KX_OUTPUT_REPLACE) != 0,
                                                .sync = (flags & KX_OUTPUT_SYNC) != 0});
    return KX_S_OK;
}

CStreamwright* ConverterOf(IStreamwright* converter) {
    return converter ? dynamic_cast<CStreamwright*>(converter) : nullptr;
}

}  // namespace kx

using kx::ConverterOf;

extern "C" KX_EXPORT HRESULT KX_SetOutputOptions(IStreamwright* converter, uint32_t flags) {
    kx::CStreamwright* object = ConverterOf(converter);
    if (!object) return KX_E_POINTER;
    return object->SetOutputOptions(flags);
}

extern "C" KX_EXPORT int32_t KX_IsOutputComplete(IStreamwright* converter, int64_t fileId, int64_t outputIndex) {
    kx::CStreamwright* object = ConverterOf(converter);
    return object && object->IsOutputComplete(fileId, outputIndex) ? 1 : 0;
}

extern "C" KX_EXPORT BSTR KX_GetLastErrorText(IStreamwright* converter) {
    kx::CStreamwright* object = ConverterOf(converter);
    if (!object) return nullptr;
    const std::u16string text = object->LastFailureText();
    return text.empty() ? nullptr : SysAllocString(text.c_str());
}
