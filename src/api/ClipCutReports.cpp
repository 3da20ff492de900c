// How each split clip cut with re-encoded edges came out, for the host.
#include "api/CStreamwright.h"
#include "platform/WideString.h"

namespace kx {

const ClipCutReport* CStreamwright::CutReportOf(int64_t fileId, int64_t clipIndex) {
    FileRecord* file = FindFile(fileId);
    if (!file || clipIndex < 0 || static_cast<uint64_t>(clipIndex) >= file->clips.size()) return nullptr;
    return &file->clips[static_cast<size_t>(clipIndex)].cutReport;
}

}  // namespace kx

using kx::ConverterOf;

extern "C" KX_EXPORT HRESULT KX_GetClipCutReport(IStreamwright* converter, int64_t fileId, int64_t clipIndex,
                                                 KX_ClipCutReport* report) {
    kx::CStreamwright* object = ConverterOf(converter);
    if (!object || !report) return KX_E_POINTER;
    if (object->Busy()) return KX_E_FAIL;
    const kx::ClipCutReport* kept = object->CutReportOf(fileId, clipIndex);
    if (!kept) return KX_E_INVALIDARG;
    *report = KX_ClipCutReport{kept->reencodedFrames, kept->copiedFrames, kept->fellBack ? 1 : 0, 0};
    return KX_S_OK;
}

extern "C" KX_EXPORT BSTR KX_GetClipCutReason(IStreamwright* converter, int64_t fileId, int64_t clipIndex) {
    kx::CStreamwright* object = ConverterOf(converter);
    if (!object || object->Busy()) return nullptr;
    const kx::ClipCutReport* kept = object->CutReportOf(fileId, clipIndex);
    if (!kept || !kept->fellBack) return nullptr;
    return SysAllocString(kx::Utf8ToWide(kept->fallBackReason).c_str());
}
