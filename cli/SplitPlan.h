// The clips of a split by time: from cut points, a fixed duration or
// explicit START+LENGTH clips.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KX_Remuxion.h"

namespace kxcli {

struct TimeClip {
    int64_t start;
    int64_t length;
};

// The extra length given to a clip that runs to the end of the file: the
// input ends it, and the container's duration may fall short of the last
// packet's time.
constexpr int64_t kTailMargin = 10'000'000;

// [0,T1), [T1,T2), ..., [Tn, end). Cut points must rise and lie inside the
// file; fails with a message naming the offending point.
std::vector<TimeClip> ClipsFromCutPoints(const std::vector<int64_t>& cuts, int64_t duration, const std::string& path);

// [0,D), [D,2D), ... up to the end.
std::vector<TimeClip> ClipsOfEvery(int64_t every, int64_t duration, const std::string& path);

// Cut points moved to the nearest key frame; points that land on the start
// or on the same key frame as the one before are dropped.
std::vector<int64_t> SnapCutPoints(const std::vector<int64_t>& cuts, const std::vector<KeyFrameRecord>& keyFrames);

// Cut points of a split every D (D, 2D, ... below the duration).
std::vector<int64_t> CutPointsEvery(int64_t every, int64_t duration);

}  // namespace kxcli
