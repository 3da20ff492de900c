// Clips and the order of the file list, as the host edits them.
#include "api/CStreamwright.h"

namespace kx {

namespace {
HRESULT StatusOf(SessionEdit edit) {
    switch (edit) {
    case SessionEdit::kDone:
        return KX_S_OK;
    case SessionEdit::kNotFound:
        return KX_S_FALSE;
    case SessionEdit::kInvalid:
        return KX_E_INVALIDARG;
    }
    return KX_E_FAIL;
}
}  // namespace

HRESULT CStreamwright::AddTimeClip(int64_t fileId, const ClipRange* clip) {
    if (busy_.load()) return KX_E_FAIL;
    return StatusOf(session_.AddClip(fileId, ClipKind::kTime, clip));
}

HRESULT CStreamwright::AddSizeClip(int64_t fileId, const ClipRange* clip) {
    if (busy_.load()) return KX_E_FAIL;
    return StatusOf(session_.AddClip(fileId, ClipKind::kSize, clip));
}

HRESULT CStreamwright::RemoveClip(int64_t fileId, int64_t clipIndex) {
    if (busy_.load()) return KX_E_FAIL;
    return StatusOf(session_.RemoveClip(fileId, clipIndex));
}

HRESULT CStreamwright::SetClip(int64_t fileId, int64_t clipIndex, const ClipRange* clip) {
    if (busy_.load()) return KX_E_FAIL;
    const SessionEdit edit = session_.SetClip(fileId, clipIndex, clip);
    return edit == SessionEdit::kInvalid ? KX_E_POINTER : StatusOf(edit);  // the only invalid clip is none
}

HRESULT CStreamwright::SwapClips(int64_t fileId, int64_t clipA, int64_t clipB) {
    if (busy_.load()) return KX_E_FAIL;
    return StatusOf(session_.SwapClips(fileId, clipA, clipB));
}

HRESULT CStreamwright::SwapFiles(int64_t fileId, int64_t otherFileId) {
    if (busy_.load()) return KX_E_FAIL;
    return StatusOf(session_.SwapFiles(fileId, otherFileId));
}

HRESULT CStreamwright::MoveFiles(const int64_t* fileIds, int64_t count, int64_t position) {
    if (busy_.load()) return KX_E_FAIL;
    return StatusOf(session_.MoveFiles(fileIds, count, position));
}

}  // namespace kx
