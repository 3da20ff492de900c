// The body of a started task: default clips, then the split, merge or
// stream-mix run with the task's notifications.
#include "api/CStreamwright.h"
#include "input/DemuxerHolder.h"
#include "task/CopySteps.h"
#include "task/Engines.h"
#include "task/InBandParameterSets.h"
#include "task/OutputSteps.h"
#include "task/StreamDescriptions.h"
#include "output/CTMuxer.h"

namespace kx {

namespace {

// The engines move time clips to key frames themselves: they need the
// host's start and length to place both ends.
ClipTask CopyOfClip(const ClipTask& clip) {
    ClipTask copy;
    copy.kind = clip.kind;
    copy.outputStreamKinds = clip.outputStreamKinds;
    copy.range = clip.range;
    return copy;
}

// A time clip that does not cover the whole file is cut at key frames, so
// they must be known; a host that did not ask for them gets them now.
void EnsureKeyFrames(CStreamwright& converter, FileRecord& file) {
    if (!file.keyFrames.empty()) return;
    const int64_t duration = FileDurationTicks(file);
    bool cuts = false;
    for (const auto& clip : file.clips)
        if (clip.kind == ClipKind::kTime && (clip.range.start > 0 || clip.range.start + clip.range.length < duration)) cuts = true;
    bool hasVideo = false;
    for (const auto& stream : file.selectedStreams) hasVideo |= stream.kind == StreamKind::kVideo;
    if (cuts && hasVideo) converter.GetFileKeyFrameIndex(file.fileId, nullptr);
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
            // A clip's file is made when the clip starts.
            if (!converter.OpenDueClipOutput(file, j)) {
                result = 0;
                break;
            }
            ClipTask copy = CopyOfClip(file.clips[j]);
            result = SplitClip(converter, &cursor, file.opened, file.input.get(), copy, file.selectedStreams, total,
                               &progressBase);
            if (result == 0 || converter.TaskFailed()) break;
        }
        converter.Notify(KX_NOTIFY_FILE_END, &cursor, 0);
        if (result == 0 || converter.TaskFailed()) break;
    }
    converter.CollectInputEnds();
    converter.NotifyTaskEnd(&cursor);
}

DescriptionPtr FirstVideoDescription(FileRecord& file) {
    for (const auto& stream : file.selectedStreams)
        if (stream.kind == StreamKind::kVideo) return DescribeStream(AnalyzeOf(file), stream.streamIndex);
    return DescriptionPtr(nullptr, DescriptionDeleter{nullptr});
}

// Ends the shared output of a merge or stream mix: finished and named when
// every clip was copied, removed when the task was stopped or failed.
void FinaliseSharedOutput(CStreamwright& converter, bool complete) {
    auto& files = converter.Files();
    if (!files.empty() && !files.front().clips.empty())
        CloseOutput(converter, files.front().clips.front(), complete);
    converter.CollectInputEnds();
    converter.NotifyTaskEnd(nullptr);
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
    bool complete = true;
    for (auto& file : files) {
        DescriptionPtr own = FirstVideoDescription(file);
        std::vector<uint8_t> prefix = KeyFramePrefixFor(reference.get(), own.get());
        converter.Notify(KX_NOTIFY_FILE_BEGIN, nullptr, 0);
        int result = 1;
        for (size_t j = 0; j < file.clips.size(); ++j) {
            TaskCursor cursor{file.fileId, static_cast<int64_t>(j)};
            ClipTask copy = CopyOfClip(file.clips[j]);
            result = MergeClip(converter, &cursor, converter.runningEndTime, output, file.opened, file.input.get(),
                               copy, file.selectedStreams, total, prefix);
            if (result == 0) break;
        }
        converter.Notify(KX_NOTIFY_FILE_END, nullptr, 0);
        if (result == 0) {
            complete = false;
            break;
        }
    }
    FinaliseSharedOutput(converter, complete);
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
    const int result = MixStreams(converter, SharedOutput(converter), static_cast<int64_t>(files.size()), longest);
    converter.Notify(KX_NOTIFY_FILE_END, nullptr, 0);
    FinaliseSharedOutput(converter, result != 0);
}

}  // namespace

void RunTaskOf(CStreamwright& converter) {
    converter.ForgetInputEnds();
    for (auto& file : converter.Files()) {
        EnsureDefaultClip(file);
        if (converter.TaskType() != KX_TASK_STREAM_MIX) EnsureKeyFrames(converter, file);
    }
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
