// Where the shared output of a merge or stream mix stands, carried from
// clip to clip and file to file of one run.
#pragma once

#include <cstdint>
#include <map>

#include "task/TaskKinds.h"

class CTMuxer;

namespace kx {

struct MergeState {
    CTMuxer* output = nullptr;  // null when the set-up made none
    // What each output stream carries, by output number.
    const std::map<int64_t, StreamKind>* streamKinds = nullptr;
    int64_t endTime = 0;    // of what was written, in output ticks
    int64_t byteCount = 0;  // payload written
};

}  // namespace kx
