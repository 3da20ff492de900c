// How the engines hand packets and finished outputs to the mux layer: a
// failure of an output's file becomes the task's failure, which ends the
// task at the engines' next stop test.
#pragma once

#include <cstdint>

#include "task/FileRecord.h"

struct AVPacket;

namespace kx {

class TaskHost;

// Writes one packet (CTMuxer::WritePacket); a failed write fails the task.
void WriteToOutput(TaskHost& host, CTMuxer* output, int32_t key, AVPacket* packet);

// Ends a clip's output (a merge's or stream mix's: the first clip's). One
// that is `complete` is finished and takes its name (the clip's
// outputComplete); one that is not, or whose task has failed, is removed.
// False when finishing failed (the task's failure is kept).
bool CloseOutput(TaskHost& host, ClipTask& clip, bool complete);

}  // namespace kx
