#include "input/DtsDeriver.h"

#include <algorithm>

extern "C" {
#include <libavutil/avutil.h>
}

namespace kx {

DtsDeriver::DtsDeriver(int reorderDepth, int64_t frameTicks)
    : depth_(std::max(reorderDepth, 0)), frameTicks_(frameTicks > 0 ? frameTicks : 1) {}

void DtsDeriver::Reset() {
    seen_ = 0;
    pending_ = {};
}

int64_t DtsDeriver::Next(int64_t pts) {
    if (pts == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
    pending_.push(pts);
    int64_t dts;
    if (seen_ == 0) firstPts_ = pts;
    if (seen_ < depth_) {
        // Before the reorder window is full: count back from the first picture.
        dts = firstPts_ - (depth_ - seen_) * frameTicks_;
    } else {
        dts = pending_.top();
        pending_.pop();
    }
    // A stream that reorders deeper than announced must still rise.
    if (seen_ > 0 && dts <= lastDts_) dts = lastDts_ + 1;
    dts = std::min(dts, pts);
    ++seen_;
    lastDts_ = dts;
    return dts;
}

}  // namespace kx
