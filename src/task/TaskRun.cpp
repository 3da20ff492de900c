#include "task/TaskRun.h"

#include <algorithm>

#include "input/ITDemuxer.h"
#include "output/CTMuxer.h"
#include "task/CopySteps.h"
#include "task/Engines.h"
#include "task/FileReaders.h"
#include "task/InBandParameterSets.h"
#include "task/OutputSteps.h"
#include "task/StreamDescriptions.h"
#include "task/TaskSession.h"
#include "task/TaskSetup.h"

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
// the key frames next to its ends must be known. A cut at key frames needs
// only those, found by a search near each end where the container allows;
// a cut that encodes its edges plans from the whole index, which is also
// read where the search cannot be made.
void EnsureKeyFrames(TaskHost& host, FileRecord& file, CutPlacement placement) {
    file.keyFramesNearCuts.clear();
    if (!file.keyFrames.empty()) return;
    const int64_t duration = FileDurationTicks(file);
    std::vector<int64_t> cutTimes;
    for (const auto& clip : file.clips) {
        if (clip.kind != ClipKind::kTime) continue;
        const int64_t end = clip.range.start + clip.range.length;
        if (clip.range.start > 0) cutTimes.push_back(clip.range.start);
        if (end < duration) cutTimes.push_back(end);
    }
    const SelectedStream* video = FirstVideoStream(file);
    if (cutTimes.empty() || !video) return;
    if (placement == CutPlacement::kKeyFrame)
        if (ITAnalyze* analyze = AnalyzeOf(file))
            if (auto near = analyze->GetKeyFramesAround(static_cast<int>(video->streamIndex), cutTimes);
                near && !near->empty()) {
                file.keyFramesNearCuts = std::move(*near);
                return;
            }
    host.IndexKeyFrames(file.fileId);
}

void RunSplit(TaskSession& session, TaskHost& host) {
    TaskCursor cursor{-1, -1};
    host.Notify(KX_NOTIFY_TASK_BEGIN, &cursor, 0);
    TaskSetup setup(session, host);
    for (auto& file : session.Files()) {
        cursor.fileId = file.fileId;
        host.Notify(KX_NOTIFY_FILE_BEGIN, &cursor, 0);
        int64_t total = 0;
        for (const auto& clip : file.clips) total += clip.range.length;
        int32_t progressBase = 0;
        EngineEnd result = EngineEnd::kFinished;
        file.nextPieceStart.reset();
        file.piecesDone = false;
        for (size_t j = 0; j < file.clips.size(); ++j) {
            cursor.clipIndex = static_cast<int64_t>(j);
            // Pieces after the input ran out would hold nothing: no file is made for them.
            if (session.Chain() == SizeClipChain::kFollowOn && file.clips[j].kind == ClipKind::kSize &&
                file.piecesDone)
                continue;
            // A clip's file is made when the clip starts.
            if (!setup.OpenDueClipOutput(file, j)) {
                result = EngineEnd::kStopped;  // the task failed: nothing more is written
                break;
            }
            ClipTask copy = CopyOfClip(file.clips[j]);
            result = SplitClip(host, SplitClipJob{.cursor = &cursor,
                                                  .file = &file,
                                                  .clip = &copy,
                                                  .placement = session.Placement(),
                                                  .chain = session.Chain(),
                                                  .lastClip = j + 1 == file.clips.size(),
                                                  .total = total,
                                                  .progressBase = &progressBase});
            if (result == EngineEnd::kStopped || host.TaskFailed()) break;
        }
        host.Notify(KX_NOTIFY_FILE_END, &cursor, 0);
        if (result == EngineEnd::kStopped || host.TaskFailed()) break;
    }
    host.CollectInputEnds();
    host.NotifyTaskEnd(&cursor);
}

DescriptionPtr FirstVideoDescription(const FileRecord& file) {
    if (const SelectedStream* video = FirstVideoStream(file)) return DescribeStream(AnalyzeOf(file), video->streamIndex);
    return DescriptionPtr(nullptr, DescriptionDeleter{nullptr});
}

// Ends the shared output of a merge or stream mix: finished and named when
// every clip was copied, removed when the task was stopped or failed.
void FinaliseSharedOutput(TaskSession& session, TaskHost& host, bool complete) {
    if (ClipTask* shared = session.SharedOutputClip()) CloseOutput(host, *shared, complete);
    host.CollectInputEnds();
    host.NotifyTaskEnd(nullptr);
}

MergeState StateAtSharedOutput(TaskSession& session) {
    MergeState state;
    if (ClipTask* shared = session.SharedOutputClip()) {
        state.output = shared->output.get();
        state.streamKinds = &shared->outputStreamKinds;
    }
    return state;
}

void RunMerge(TaskSession& session, TaskHost& host) {
    auto& files = session.Files();
    if (files.empty()) {
        host.Notify(KX_NOTIFY_FILE_END, nullptr, 0);
        return;
    }
    host.Notify(KX_NOTIFY_TASK_BEGIN, nullptr, 0);
    int64_t total = 0;
    for (const auto& file : files)
        for (const auto& clip : file.clips) total += clip.range.length;
    // The library derives missing decoding times from its own reorder buffer,
    // which FFmpeg 5.1 keeps private and needs no reset between clips.
    MergeState state = StateAtSharedOutput(session);
    DescriptionPtr reference = FirstVideoDescription(files.front());
    bool complete = true;
    for (auto& file : files) {
        DescriptionPtr own = FirstVideoDescription(file);
        std::vector<uint8_t> prefix = KeyFramePrefixFor(reference.get(), own.get());
        host.Notify(KX_NOTIFY_FILE_BEGIN, nullptr, 0);
        EngineEnd result = EngineEnd::kFinished;
        for (size_t j = 0; j < file.clips.size(); ++j) {
            TaskCursor cursor{file.fileId, static_cast<int64_t>(j)};
            ClipTask copy = CopyOfClip(file.clips[j]);
            result = MergeClip(host, state, MergeClipJob{.cursor = &cursor,
                                                         .file = &file,
                                                         .clip = &copy,
                                                         .placement = session.Placement(),
                                                         .total = total,
                                                         .keyFramePrefix = &prefix});
            if (result == EngineEnd::kStopped) break;
        }
        host.Notify(KX_NOTIFY_FILE_END, nullptr, 0);
        if (result == EngineEnd::kStopped) {
            complete = false;
            break;
        }
    }
    FinaliseSharedOutput(session, host, complete);
}

void RunStreamMix(TaskSession& session, TaskHost& host) {
    auto& files = session.Files();
    if (files.empty()) {
        host.Notify(KX_NOTIFY_FILE_END, nullptr, 0);
        return;
    }
    host.Notify(KX_NOTIFY_TASK_BEGIN, nullptr, 0);
    int64_t longest = 0;
    for (const auto& file : files)
        if (!file.clips.empty()) longest = std::max(longest, file.clips.front().range.length);
    MergeState state = StateAtSharedOutput(session);
    const EngineEnd result = MixStreams(host, state, files, session.Placement(), longest);
    host.Notify(KX_NOTIFY_FILE_END, nullptr, 0);
    FinaliseSharedOutput(session, host, result != EngineEnd::kStopped);
}

}  // namespace

void RunTask(TaskSession& session, TaskHost& host) {
    host.ForgetInputEnds();
    const std::optional<TaskKind> kind = session.Kind();
    for (auto& file : session.Files()) {
        EnsureDefaultClip(file);
        if (kind != TaskKind::kStreamMix) EnsureKeyFrames(host, file, session.Placement());
    }
    if (!kind) return;
    switch (*kind) {
    case TaskKind::kSplit:
        RunSplit(session, host);
        break;
    case TaskKind::kMerge:
        RunMerge(session, host);
        break;
    case TaskKind::kStreamMix:
        RunStreamMix(session, host);
        break;
    }
}

}  // namespace kx
