// The key frames of a video stream around a few times, found by seeking near
// each time and reading from there, instead of reading the whole stream.
// A split at given times needs only the key frames next to its cuts; a
// transport stream has no index to list them, and reading all of it first
// costs as much as the copy itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "KX_Remuxion.h"  // KeyFrameRecord

struct AVFormatContext;

namespace kx {

// For the start of the file and each time (ticks relative to `timeZero`):
// the last key frame at or before it and the next two after it, in time
// order without repeats. The key-frame and packet numbers are -1: only a
// whole read counts packets. None where the container's seeking is not
// trusted to land before a time (only Matroska and MPEG-TS are searched),
// a key frame comes without a time, a seek fails, or `cancel` is set: the
// caller then indexes the whole stream. The reading position is left
// anywhere: the caller rewinds.
std::optional<std::vector<KeyFrameRecord>> KeyFramesAround(AVFormatContext* format, int streamIndex,
                                                           int64_t timeZero, const std::vector<int64_t>& times,
                                                           const std::atomic<int>& cancel);

}  // namespace kx
