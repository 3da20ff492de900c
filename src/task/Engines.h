// The three copy engines (worker thread).
#pragma once

#include <cstdint>
#include <vector>

#include "task/FileRecord.h"
#include "task/MergeState.h"
#include "task/TaskHost.h"
#include "task/TimeClipCopy.h"

namespace kx {

// How an engine's unit ended: finished (copied to its end, ran out of input,
// or could not start: the task goes on with the next), or stopped by the
// host (the task ends).
enum class EngineEnd { kFinished, kStopped };

// One clip of a split, into the clip's own output.
struct SplitClipJob {
    TaskCursor* cursor = nullptr;  // the file and the clip
    FileRecord* file = nullptr;    // its reader, streams, key frames and the clip's output
    const ClipTask* clip = nullptr;  // the clip as the host set it
    CutPlacement placement = CutPlacement::kKeyFrame;
    SizeClipChain chain = SizeClipChain::kPositioned;
    bool lastClip = false;            // of its file
    int64_t total = 0;                // of all the file's clips, for the progress
    int32_t* progressBase = nullptr;  // the file's progress before the clip; moved past it
};
EngineEnd SplitClip(TaskHost& host, const SplitClipJob& job);

// One clip of a merge, appended to the shared output where the state stands.
struct MergeClipJob {
    TaskCursor* cursor = nullptr;
    const FileRecord* file = nullptr;
    const ClipTask* clip = nullptr;
    CutPlacement placement = CutPlacement::kKeyFrame;
    int64_t total = 0;  // of all clips of all files, for the progress
    // In-band parameter sets put in front of the file's video key frames.
    const std::vector<uint8_t>* keyFramePrefix = nullptr;
};
EngineEnd MergeClip(TaskHost& host, MergeState& state, const MergeClipJob& job);

// The first selected stream of every file into the shared output. longest:
// the longest first clip, for the progress.
EngineEnd MixStreams(TaskHost& host, MergeState& state, std::vector<FileRecord>& files, CutPlacement placement,
               int64_t longest);

// Tells the host a clip ended (and, when it ran out, that its input did);
// the engine's answer for the outcome.
EngineEnd EndClip(TaskHost& host, TaskCursor* cursor, ClipOutcome outcome);

// Percentages computed in doubles, truncated; 0 where the divisor is not positive.
int32_t PercentOf(double numerator, double denominator, double scale);

}  // namespace kx
