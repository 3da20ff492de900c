// Key frames from an MP4 or MOV file's own sample table instead of a read of
// the whole stream. The table lists every sample with its sync flag, so the
// sample numbers are the packet numbers a scan counts; the shown time of each
// key frame is read from that one packet (a seek and a read each). The table
// stands in for the scan only where it agrees with it: over the first groups
// every packet's key flag must equal what the scan would decide (the
// container's flag or the bitstream's own test), and every key frame read
// must be the sample the table says. Elsewhere (other containers, fragmented
// files, tables that mark most samples) the caller scans.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "KX_Remuxion.h"  // KeyFrameRecord

struct AVFormatContext;

namespace kx {

// Records with times relative to `timeZero` (ticks); none when the table
// cannot stand in for a scan or `cancel` was set. The reading position is
// left anywhere: the caller rewinds. `progress` gets 0..100.
std::optional<std::vector<KeyFrameRecord>> IndexedKeyFrames(AVFormatContext* format, int streamIndex,
                                                            int64_t timeZero, const std::atomic<int>& cancel,
                                                            const std::function<void(int64_t)>& progress);

}  // namespace kx
