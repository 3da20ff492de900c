#include "SplitPlan.h"

#include "Console.h"
#include "KeyFrames.h"
#include "TimeText.h"

namespace kxcli {

namespace {

constexpr size_t kMaxClips = 100'000;

}  // namespace

std::vector<TimeClip> ClipsFromCutPoints(const std::vector<int64_t>& cuts, int64_t duration, const std::string& path) {
    std::vector<TimeClip> clips;
    int64_t start = 0;
    for (int64_t cut : cuts) {
        if (cut <= start)
            UsageError("cut points must rise above zero and above each other; " + FormatClock(cut) + " does not");
        if (cut >= duration)
            Fail("the cut point " + FormatClock(cut) + " lies at or beyond the end of " + path + " (" +
                 FormatClock(duration) + ")");
        clips.push_back({start, cut - start});
        start = cut;
    }
    clips.push_back({start, duration - start + kTailMargin});
    return clips;
}

std::vector<int64_t> CutPointsEvery(int64_t every, int64_t duration) {
    std::vector<int64_t> cuts;
    for (int64_t t = every; t < duration; t += every) cuts.push_back(t);
    return cuts;
}

std::vector<TimeClip> ClipsOfEvery(int64_t every, int64_t duration, const std::string& path) {
    if (every <= 0) UsageError("--every needs a duration above zero");
    if (duration / every >= static_cast<int64_t>(kMaxClips))
        UsageError("--every " + FormatClock(every) + " would make more than " + std::to_string(kMaxClips) + " clips");
    return ClipsFromCutPoints(CutPointsEvery(every, duration), duration, path);
}

std::vector<int64_t> SnapCutPoints(const std::vector<int64_t>& cuts, const std::vector<KeyFrameRecord>& keyFrames) {
    std::vector<int64_t> snapped;
    for (int64_t cut : cuts) {
        int64_t t = NearestKeyFrame(keyFrames, cut);
        if (t <= 0 || (!snapped.empty() && t <= snapped.back())) continue;
        snapped.push_back(t);
    }
    return snapped;
}

}  // namespace kxcli
