// The three copy engines (worker thread). An engine returns 1 when its unit
// ended, ran out of input or could not start, and 0 when the host stopped
// the task.
#pragma once

#include <cstdint>
#include <vector>

#include "task/FileRecord.h"
#include "task/MergeState.h"
#include "task/TaskHost.h"

namespace kx {

// One clip of a split, into the clip's own output.
struct SplitClipJob {
    TaskCursor* cursor = nullptr;  // the file and the clip
    FileRecord* file = nullptr;    // its reader, streams, key frames and the clip's output
    const ClipTask* clip = nullptr;  // the clip as the host set it
    CutPlacement placement = CutPlacement::kKeyFrame;
    int64_t total = 0;                // of all the file's clips, for the progress
    int32_t* progressBase = nullptr;  // the file's progress before the clip; moved past it
};
int SplitClip(TaskHost& host, const SplitClipJob& job);

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
int MergeClip(TaskHost& host, MergeState& state, const MergeClipJob& job);

// The first selected stream of every file into the shared output. longest:
// the longest first clip, for the progress.
int MixStreams(TaskHost& host, MergeState& state, std::vector<FileRecord>& files, CutPlacement placement,
               int64_t longest);

// Percentages computed in doubles, truncated; 0 where the divisor is not positive.
int32_t PercentOf(double numerator, double denominator, double scale);

}  // namespace kx
