// What a task is made of: the input files with their selected streams and
// clips, the task's kind and cut placement, where and how its outputs are
// written, and the merge groups. The converter owns one; the set-up and the
// run read it, the api layer edits it between tasks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output/PartialFile.h"
#include "task/FileRecord.h"
#include "task/TaskKinds.h"

namespace kx {

// How an edit of the file or clip lists went.
enum class SessionEdit { kDone, kNotFound, kInvalid };

// Why an output has no name: the index lies beyond the outputs counted last,
// or there is nothing to name it by (no folder, no counted outputs, an input
// without an extension, a task kind this library does not know).
enum class NameRefusal { kNone, kOutOfRange, kUnnamed };

struct OutputNameAnswer {
    std::u16string name;
    NameRefusal refusal = NameRefusal::kNone;
};

class TaskSession {
public:
    std::vector<FileRecord>& Files() { return files_; }
    const std::vector<FileRecord>& Files() const { return files_; }
    FileRecord* FindFile(int64_t fileId);
    const FileRecord* FindFile(int64_t fileId) const;

    void AddFile(FileRecord record) { files_.push_back(std::move(record)); }
    // Drops the file with its unfinished outputs (finished ones stay on disk).
    SessionEdit RemoveFile(int64_t fileId);
    void RemoveAllFiles();
    SessionEdit SwapFiles(int64_t fileId, int64_t otherFileId);
    // Moves the named files, in the order named, to stand before the file
    // at position; unknown and repeated ids are skipped.
    SessionEdit MoveFiles(const int64_t* fileIds, int64_t count, int64_t position);

    SessionEdit AddClip(int64_t fileId, ClipKind kind, const ClipRange* range);
    SessionEdit RemoveClip(int64_t fileId, int64_t clipIndex);
    SessionEdit SwapClips(int64_t fileId, int64_t clipA, int64_t clipB);
    SessionEdit SetClip(int64_t fileId, int64_t clipIndex, const ClipRange* range);
    const ClipRange* Clip(int64_t fileId, uint64_t clipIndex) const;
    std::optional<int64_t> ClipCount(int64_t fileId) const;

    // None: a task kind this library does not know, which has no outputs.
    void SetTask(std::optional<TaskKind> kind, CutPlacement placement, SizeClipChain chain);
    std::optional<TaskKind> Kind() const { return kind_; }
    CutPlacement Placement() const { return placement_; }
    SizeClipChain Chain() const { return chain_; }
    // Merges and stream mixes write one output for all files.
    bool HasSharedOutput() const { return kind_ == TaskKind::kMerge || kind_ == TaskKind::kStreamMix; }

    // The folder of split outputs, the path of a merge's or stream mix's
    // output; none until set. Cut to the length the host can be told.
    void SetOutputFolder(std::optional<std::u16string_view> folder);
    bool HasOutputFolder() const { return outputFolder_.has_value(); }
    // The extension of split outputs; empty: the input's, in lower case.
    void SetOutputExtension(std::u16string_view extension);
    void SetOutputOptions(const OutputFileOptions& options) { outputOptions_ = options; }
    const OutputFileOptions& OutputOptions() const { return outputOptions_; }

    // The outputs of a file (1 for a shared output); names are given only
    // for the outputs counted by the last call.
    int64_t CountOutputs(int64_t fileId);
    // "<folder>/<input name>_<file id>_<index, 3 digits><extension>" for a
    // split, the output path for a shared output.
    OutputNameAnswer OutputName(int64_t fileId, int64_t outputIndex) const;
    // The clip the shared output hangs on: the first clip of the first file,
    // so that it goes when that clip or file goes. Null when there is none.
    ClipTask* SharedOutputClip();

    std::vector<std::vector<int64_t>>& MergeGroups() { return mergeGroups_; }

private:
    std::vector<FileRecord> files_;
    std::optional<TaskKind> kind_ = TaskKind::kSplit;
    CutPlacement placement_ = CutPlacement::kKeyFrame;
    SizeClipChain chain_ = SizeClipChain::kPositioned;
    std::optional<std::u16string> outputFolder_;
    std::u16string outputExtension_;
    // Hosts that never set output options keep the replacing outputs they
    // always had (now complete or absent); the program asks for refusal.
    OutputFileOptions outputOptions_{.replace = true};
    int64_t countedOutputs_ = 0;
    std::vector<std::vector<int64_t>> mergeGroups_;
};

// Drops a file's unfinished outputs; none is opened later.
void CloseClipOutputs(FileRecord& file);

}  // namespace kx
