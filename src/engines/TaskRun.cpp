// The body of a started task: default clips, then the split, merge or
// stream-mix run with the task's notifications.
#include "converter/CStreamwright.h"
#include "converter/DemuxerHolder.h"
#include "engines/CopySteps.h"
#include "engines/Engines.h"
#include "engines/InBandParameterSets.h"
#include "engines/StreamDescriptions.h"
#include "mux/CTMuxer.h"

namespace kx {

namespace {

ClipTask SnappedCopy(const ClipTask& clip, const FileRecord& file) {
    ClipTask copy;
    copy.kind = clip.kind;
    copy.outputStreamKinds = clip.outputStreamKinds;
    copy.range = clip.range;
    if (copy.kind == 0) copy.range.start = SnapToKeyFrame(file.keyFrames, copy.range.start);
    return copy;
}

void RunSplit(CStreamwright& converter) {
    TaskCursor cursor{-1, -1};
    converter.Notify(KX_NOTIFY_TASK_BEGIN, &cursor, 0);
    for (auto& file : converter.Files()) {
        cursor.fileId = file.fileId;
        converter.Notify(KX_NOTIFY_FILE_BEGIN, &cursor, 0);
        int64_t total = 0;
        for (const auto& clip : file.clips) total += clip.range.length;
        int32_t progressBase = 0;
        int result = 1;
        for (size_t j = 0; j < file.clips.size(); ++j) {
            cursor.clipIndex = static_cast<int64_t>(j);
            ClipTask copy = SnappedCopy(file.clips[j], file);
            result = SplitClip(converter, &cursor, file.opened, file.demuxer.get(), copy, file.selectedStreams, total,
                               &progressBase);
            if (result == 0) break;
        }
        converter.Notify(KX_NOTIFY_FILE_END, &cursor, 0);
        if (result == 0) break;
    }
    converter.Notify(KX_NOTIFY_TASK_END, &cursor, 0);
}

DescriptionPtr FirstVideoDescription(FileRecord& file) {
    for (const auto& stream : file.selectedStreams)
        if (stream.kind == 1) return DescribeStream(AnalyzeOf(file), stream.streamIndex);
    return DescriptionPtr(nullptr, DescriptionDeleter{nullptr});
}

// Closes the shared output of a merge or stream mix.
void FinaliseSharedOutput(CStreamwright& converter) {
    auto& files = converter.Files();
    if (!files.empty() && !files.front().clips.empty()) files.front().clips.front().output.reset();
    converter.Notify(KX_NOTIFY_TASK_END, nullptr, 0);
}

CTMuxer* SharedOutput(CStreamwright& converter) {
    auto& files = converter.Files();
    if (files.empty() || files.front().clips.empty()) return nullptr;
    return files.front().clips.front().output.get();
}

void RunMerge(CStreamwright& converter) {
    converter.runningEndTime = 0;
    converter.runningByteCount = 0;
    auto& files = converter.Files();
    if (files.empty()) {
        converter.Notify(KX_NOTIFY_FILE_END, nullptr, 0);
        return;
    }
    converter.Notify(KX_NOTIFY_TASK_BEGIN, nullptr, 0);
    int64_t total = 0;
    for (const auto& file : files)
        for (const auto& clip : file.clips) total += clip.range.length;
    // The library derives missing decoding times from its own reorder buffer,
    // which FFmpeg 5.1 keeps private and needs no reset between clips.
    CTMuxer* output = SharedOutput(converter);
    DescriptionPtr reference = FirstVideoDescription(files.front());
    for (auto& file : files) {
        DescriptionPtr own = FirstVideoDescription(file);
        std::vector<uint8_t> prefix = KeyFramePrefixFor(reference.get(), own.get());
        converter.Notify(KX_NOTIFY_FILE_BEGIN, nullptr, 0);
        int result = 1;
        for (size_t j = 0; j < file.clips.size(); ++j) {
            TaskCursor cursor{file.fileId, static_cast<int64_t>(j)};
            ClipTask copy = SnappedCopy(file.clips[j], file);
            result = MergeClip(converter, &cursor, converter.runningEndTime, output, file.opened, file.demuxer.get(),
                               copy, file.selectedStreams, total, prefix);
            if (result == 0) break;
        }
        converter.Notify(KX_NOTIFY_FILE_END, nullptr, 0);
        if (result == 0) break;
    }
    FinaliseSharedOutput(converter);
}

void RunStreamMix(CStreamwright& converter) {
    auto& files = converter.Files();
    if (files.empty()) {
        converter.Notify(KX_NOTIFY_FILE_END, nullptr, 0);
        return;
    }
    converter.Notify(KX_NOTIFY_TASK_BEGIN, nullptr, 0);
    int64_t longest = 0;
    for (const auto& file : files)
        if (!file.clips.empty()) longest = std::max(longest, file.clips.front().range.length);
    MixStreams(converter, SharedOutput(converter), static_cast<int64_t>(files.size()), longest);
    converter.Notify(KX_NOTIFY_FILE_END, nullptr, 0);
    FinaliseSharedOutput(converter);
}

}  // namespace

void RunTaskOf(CStreamwright& converter) {
    for (auto& file : converter.Files()) EnsureDefaultClip(file);
    switch (converter.TaskType()) {
    case KX_TASK_SPLIT:
        RunSplit(converter);
        break;
    case KX_TASK_MERGE:
        RunMerge(converter);
        break;
    case KX_TASK_STREAM_MIX:
        RunStreamMix(converter);
        break;
    default:
        break;
    }
}

}  // namespace kx

namespace kx {
void CStreamwright::RunTask() { RunTaskOf(*this); }
}  // namespace kx
