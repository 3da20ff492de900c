// Clips, reordering of the file list, and output names.
#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>

#include "api/CStreamwright.h"
#include "platform/KX_Log.h"
#include "platform/WideString.h"

namespace kx {

namespace {
bool ValidTimeClip(const ClipRange* clip) { return clip && clip->length >= 0; }
bool ValidSizeClip(const ClipRange* clip) { return clip && clip->start >= 0 && clip->length >= 1; }
}  // namespace

HRESULT CStreamwright::AddTimeClip(int64_t fileId, const ClipRange* clip) {
    if (busy_.load()) return KX_E_FAIL;
    if (!ValidTimeClip(clip)) return KX_E_INVALIDARG;
    FileRecord* file = FindFile(fileId);
    if (!file) return KX_S_FALSE;
    ClipTask task;
    task.kind = ClipKind::kTime;
    task.range = *clip;
    file->clips.push_back(std::move(task));
    return KX_S_OK;
}

HRESULT CStreamwright::AddSizeClip(int64_t fileId, const ClipRange* clip) {
    if (busy_.load()) return KX_E_FAIL;
    if (!ValidSizeClip(clip)) return KX_E_INVALIDARG;
    FileRecord* file = FindFile(fileId);
    if (!file) return KX_S_FALSE;
    ClipTask task;
    task.kind = ClipKind::kSize;
    task.range = *clip;
    file->clips.push_back(std::move(task));
    return KX_S_OK;
}

HRESULT CStreamwright::RemoveClip(int64_t fileId, int64_t clipIndex) {
    if (busy_.load()) return KX_E_FAIL;
    FileRecord* file = FindFile(fileId);
    if (!file || clipIndex < 0 || static_cast<uint64_t>(clipIndex) >= file->clips.size()) return KX_S_FALSE;
    file->clips.erase(file->clips.begin() + clipIndex);  // an open output is closed by its deleter
    return KX_S_OK;
}

HRESULT CStreamwright::SwapClips(int64_t fileId, int64_t clipA, int64_t clipB) {
    if (busy_.load()) return KX_E_FAIL;
    FileRecord* file = FindFile(fileId);
    if (!file) return KX_S_FALSE;
    int64_t count = static_cast<int64_t>(file->clips.size());
    if (clipA < 0 || clipB < 0 || clipA >= count || clipB >= count) return KX_S_FALSE;
    std::swap(file->clips[clipA], file->clips[clipB]);
    return KX_S_OK;
}

HRESULT CStreamwright::SwapFiles(int64_t fileId, int64_t otherFileId) {
    if (busy_.load()) return KX_E_FAIL;
    FileRecord* a = FindFile(fileId);
    FileRecord* b = FindFile(otherFileId);
    if (!a || !b) return KX_S_FALSE;
    std::swap(*a, *b);
    return KX_S_OK;
}

HRESULT CStreamwright::MoveFiles(const int64_t* fileIds, int64_t count, int64_t position) {
    if (busy_.load()) return KX_E_FAIL;
    if (count < 0 || (count > 0 && !fileIds)) return KX_E_INVALIDARG;
    if (position < 0 || position > static_cast<int64_t>(files_.size())) return KX_E_INVALIDARG;
    std::vector<FileRecord> moving;
    for (int64_t i = 0; i < count; ++i) {
        FileRecord* file = FindFile(fileIds[i]);
        if (!file || fileIds[i] == -1) continue;  // unknown, or named twice (already marked)
        moving.push_back(std::move(*file));
        file->fileId = -1;  // marked for removal
    }
    files_.insert(files_.begin() + position, std::make_move_iterator(moving.begin()),
                  std::make_move_iterator(moving.end()));
    files_.erase(std::remove_if(files_.begin(), files_.end(), [](const FileRecord& f) { return f.fileId == -1; }),
                 files_.end());
    return KX_S_OK;
}

HRESULT CStreamwright::GetOutputFileName(int64_t fileId, int64_t outputIndex, BSTR* name) {
    if (!name) return KX_E_POINTER;
    *name = nullptr;
    if (!outputPath_ || outputCount_ < 0) return KX_E_FAIL;
    if (outputIndex < 0 || outputIndex + 1 > outputCount_) return KX_E_INVALIDARG;
    std::u16string result;
    if (taskType_ == KX_TASK_MERGE || taskType_ == KX_TASK_STREAM_MIX) {
        result = outputPath_.get();
    } else if (taskType_ == KX_TASK_SPLIT) {
        FileRecord* file = FindFile(fileId);
        if (!file) return KX_E_FAIL;
        const std::u16string& path = file->path;
        size_t slash = path.find_last_of(u'\\');
        if (slash == std::u16string::npos) slash = path.find_last_of(u'/');
        size_t dot = path.find_last_of(u'.');
        size_t baseStart = slash == std::u16string::npos ? 0 : slash + 1;
        if (dot == std::u16string::npos || dot < baseStart) return KX_E_FAIL;
        char numbers[64];
        std::snprintf(numbers, sizeof numbers, "_%" PRId64 "_%03" PRId64, fileId, outputIndex);
        std::u16string extension;
        if (outputExtension_ && outputExtension_[0]) {
            extension = outputExtension_.get();
        } else {
            extension = path.substr(dot);
            for (auto& c : extension)
                if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        }
        result = outputPath_.get();
        result += u"/";
        result += path.substr(baseStart, dot - baseStart);
        result += Utf8ToWide(std::string(numbers));
        result += extension;
    } else {
        return KX_E_FAIL;
    }
    *name = SysAllocString(result.c_str());
    return *name ? KX_S_OK : KX_E_OUTOFMEMORY;
}

}  // namespace kx
