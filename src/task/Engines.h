// The three copy engines and the task run that drives them (worker thread).
// An engine returns 1 when its unit ended, ran out of input or could not
// start, and 0 when the host stopped the task.
#pragma once

#include <cstdint>
#include <vector>

#include "task/FileRecord.h"

namespace kx {

class CStreamwright;
struct DemuxerHolder;

int SplitClip(CStreamwright& converter, TaskCursor* cursor, uint32_t opened, DemuxerHolder* holder,
              const ClipTask& clip, const std::vector<SelectedStream>& streams, int64_t total, int32_t* progressBase);

// keyFramePrefix: in-band parameter sets put in front of the file's video key frames.
int MergeClip(CStreamwright& converter, TaskCursor* cursor, int64_t timeOffset, CTMuxer* output, uint32_t opened,
              DemuxerHolder* holder, const ClipTask& clip, const std::vector<SelectedStream>& streams, int64_t total,
              const std::vector<uint8_t>& keyFramePrefix);

int MixStreams(CStreamwright& converter, CTMuxer* output, int64_t fileCount, int64_t longest);

// The body of a started task.
void RunTaskOf(CStreamwright& converter);

// Percentages computed in doubles, truncated; 0 where the divisor is not positive.
int32_t PercentOf(double numerator, double denominator, double scale);

}  // namespace kx
