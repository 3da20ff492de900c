#include "task/TaskSession.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "platform/WideString.h"

namespace kx {

namespace {
// What a host can be handed back, terminator included.
constexpr size_t kOutputPathChars = 2048;
constexpr size_t kOutputExtensionChars = 256;

bool ValidTimeClip(const ClipRange* clip) { return clip && clip->length >= 0; }
bool ValidSizeClip(const ClipRange* clip) { return clip && clip->start >= 0 && clip->length >= 1; }

std::u16string CutTo(std::u16string_view text, size_t capacity) {
    return std::u16string(text.substr(0, std::min(text.size(), capacity - 1)));
}

bool ValidClipIndex(const FileRecord* file, int64_t clipIndex) {
    return file && clipIndex >= 0 && static_cast<uint64_t>(clipIndex) < file->clips.size();
}
}  // namespace

void CloseClipOutputs(FileRecord& file) {
    for (auto& clip : file.clips) {
        clip.output.reset();
        clip.outputDue = false;
    }
}

FileRecord* TaskSession::FindFile(int64_t fileId) {
    for (auto& file : files_)
        if (file.fileId == fileId) return &file;
    return nullptr;
}

const FileRecord* TaskSession::FindFile(int64_t fileId) const {
    return const_cast<TaskSession*>(this)->FindFile(fileId);
}

SessionEdit TaskSession::RemoveFile(int64_t fileId) {
    auto it = std::find_if(files_.begin(), files_.end(), [&](const FileRecord& f) { return f.fileId == fileId; });
    if (it == files_.end()) return SessionEdit::kNotFound;
    it->input.reset();
    CloseClipOutputs(*it);
    files_.erase(it);
    return SessionEdit::kDone;
}

void TaskSession::RemoveAllFiles() {
    for (auto& file : files_) {
        file.keyFrames.clear();
        file.keyFramesNearCuts.clear();
        file.keyFrameCount = 0;
        file.selectedStreams.clear();
        file.input.reset();
        // An output still open was left unfinished: dropping it removes its
        // temporary file; its own name was never used.
        file.clips.clear();
    }
    files_.clear();
}

SessionEdit TaskSession::SwapFiles(int64_t fileId, int64_t otherFileId) {
    FileRecord* a = FindFile(fileId);
    FileRecord* b = FindFile(otherFileId);
    if (!a || !b) return SessionEdit::kNotFound;
    std::swap(*a, *b);
    return SessionEdit::kDone;
}

SessionEdit TaskSession::MoveFiles(const int64_t* fileIds, int64_t count, int64_t position) {
    if (count < 0 || (count > 0 && !fileIds)) return SessionEdit::kInvalid;
    if (position < 0 || position > static_cast<int64_t>(files_.size())) return SessionEdit::kInvalid;
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
    return SessionEdit::kDone;
}

SessionEdit TaskSession::AddClip(int64_t fileId, ClipKind kind, const ClipRange* range) {
    if (!(kind == ClipKind::kTime ? ValidTimeClip(range) : ValidSizeClip(range))) return SessionEdit::kInvalid;
    FileRecord* file = FindFile(fileId);
    if (!file) return SessionEdit::kNotFound;
    ClipTask clip;
    clip.kind = kind;
    clip.range = *range;
    file->clips.push_back(std::move(clip));
    return SessionEdit::kDone;
}

SessionEdit TaskSession::RemoveClip(int64_t fileId, int64_t clipIndex) {
    FileRecord* file = FindFile(fileId);
    if (!ValidClipIndex(file, clipIndex)) return SessionEdit::kNotFound;
    file->clips.erase(file->clips.begin() + clipIndex);  // an open output is closed by its deleter
    return SessionEdit::kDone;
}

SessionEdit TaskSession::SwapClips(int64_t fileId, int64_t clipA, int64_t clipB) {
    FileRecord* file = FindFile(fileId);
    if (!ValidClipIndex(file, clipA) || !ValidClipIndex(file, clipB)) return SessionEdit::kNotFound;
    std::swap(file->clips[clipA], file->clips[clipB]);
    return SessionEdit::kDone;
}

SessionEdit TaskSession::SetClip(int64_t fileId, int64_t clipIndex, const ClipRange* range) {
    FileRecord* file = FindFile(fileId);
    if (!ValidClipIndex(file, clipIndex)) return SessionEdit::kNotFound;
    if (!range) return SessionEdit::kInvalid;
    file->clips[clipIndex].range = *range;
    return SessionEdit::kDone;
}

const ClipRange* TaskSession::Clip(int64_t fileId, uint64_t clipIndex) const {
    const FileRecord* file = FindFile(fileId);
    if (!file || clipIndex >= file->clips.size()) return nullptr;
    return &file->clips[clipIndex].range;
}

std::optional<int64_t> TaskSession::ClipCount(int64_t fileId) const {
    const FileRecord* file = FindFile(fileId);
    if (!file) return std::nullopt;
    return static_cast<int64_t>(file->clips.size());
}

void TaskSession::SetTask(std::optional<TaskKind> kind, CutPlacement placement, SizeClipChain chain) {
    kind_ = kind;
    placement_ = placement;
    chain_ = chain;
}

void TaskSession::SetOutputFolder(std::optional<std::u16string_view> folder) {
    outputFolder_.reset();
    if (folder) outputFolder_ = CutTo(*folder, kOutputPathChars);
}

void TaskSession::SetOutputExtension(std::u16string_view extension) {
    outputExtension_ = CutTo(extension, kOutputExtensionChars);
}

int64_t TaskSession::CountOutputs(int64_t fileId) {
    countedOutputs_ = 0;
    if (HasSharedOutput()) {
        countedOutputs_ = 1;
    } else if (kind_ == TaskKind::kSplit) {
        if (const FileRecord* file = FindFile(fileId)) countedOutputs_ = static_cast<int64_t>(file->clips.size());
    }
    return countedOutputs_;
}

OutputNameAnswer TaskSession::OutputName(int64_t fileId, int64_t outputIndex) const {
    OutputNameAnswer answer;
    answer.refusal = NameRefusal::kUnnamed;
    if (!outputFolder_ || countedOutputs_ < 0) return answer;
    if (outputIndex < 0 || outputIndex + 1 > countedOutputs_) {
        answer.refusal = NameRefusal::kOutOfRange;
        return answer;
    }
    if (HasSharedOutput()) {
        answer.name = *outputFolder_;
        answer.refusal = NameRefusal::kNone;
        return answer;
    }
    const FileRecord* file = kind_ == TaskKind::kSplit ? FindFile(fileId) : nullptr;
    if (!file) return answer;
    const std::u16string& path = file->path;
    size_t slash = path.find_last_of(u'\\');
    if (slash == std::u16string::npos) slash = path.find_last_of(u'/');
    size_t dot = path.find_last_of(u'.');
    size_t baseStart = slash == std::u16string::npos ? 0 : slash + 1;
    if (dot == std::u16string::npos || dot < baseStart) return answer;
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "_%" PRId64 "_%03" PRId64, fileId, outputIndex);
    std::u16string extension = outputExtension_;
    if (extension.empty()) {
        extension = path.substr(dot);
        for (auto& c : extension)
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    answer.name = *outputFolder_;
    answer.name += u"/";
    answer.name += path.substr(baseStart, dot - baseStart);
    answer.name += Utf8ToWide(std::string(numbers));
    answer.name += extension;
    answer.refusal = NameRefusal::kNone;
    return answer;
}

ClipTask* TaskSession::SharedOutputClip() {
    if (files_.empty() || files_.front().clips.empty()) return nullptr;
    return &files_.front().clips.front();
}

}  // namespace kx
