#include "task/EdgeCutPlan.h"

#include <algorithm>

namespace kx {

namespace {
constexpr int64_t kToleranceTicks = 10'000;  // 1 ms: times converted between time bases

bool OnKeyFrame(const std::vector<KeyFrameRecord>& keyFrames, int64_t t) {
    return std::any_of(keyFrames.begin(), keyFrames.end(), [t](const KeyFrameRecord& k) {
        return k.time >= t - kToleranceTicks && k.time <= t + kToleranceTicks;
    });
}
}  // namespace

int64_t KeyFrameAtOrBefore(const std::vector<KeyFrameRecord>& keyFrames, int64_t t) {
    int64_t found = keyFrames.front().time;
    for (const auto& k : keyFrames)
        if (k.time <= t + kToleranceTicks) found = k.time;
    return found;
}

EdgeCutPlan PlanEdgeCut(const ClipRange& range, const std::vector<KeyFrameRecord>& keyFrames, int64_t fileDuration) {
    EdgeCutPlan plan;
    plan.start = std::max<int64_t>(range.start, 0);
    plan.end = range.start + range.length;
    plan.toFileEnd = fileDuration > 0 && plan.end >= fileDuration;
    plan.fromFileStart = plan.start <= keyFrames.front().time + kToleranceTicks;
    plan.startOnKey = plan.fromFileStart || OnKeyFrame(keyFrames, plan.start);
    plan.endOnKey = !plan.toFileEnd && OnKeyFrame(keyFrames, plan.end);

    if (plan.startOnKey) {
        plan.copyFrom = plan.fromFileStart ? keyFrames.front().time : KeyFrameAtOrBefore(keyFrames, plan.start);
    } else {
        for (const auto& k : keyFrames)
            if (k.time > plan.start + kToleranceTicks) {
                if (plan.toFileEnd || k.time < plan.end - kToleranceTicks) plan.copyFrom = k.time;
                break;
            }
    }
    if (!plan.copyFrom || plan.toFileEnd || plan.endOnKey) return plan;
    // The last key frame before the end; the copied part holds at least the one it starts with.
    const int64_t last = KeyFrameAtOrBefore(keyFrames, plan.end - 2 * kToleranceTicks);
    plan.encodeTailFrom = std::max(last, *plan.copyFrom);
    return plan;
}

}  // namespace kx
