// Clip bounds on key frames and decoding times derived from presentation order.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
}

#include "input/DtsDeriver.h"
#include "task/ClipBounds.h"

namespace {

constexpr int64_t kSecond = 10'000'000;

std::vector<KeyFrameRecord> KeysAt(std::vector<int64_t> seconds) {
    std::vector<KeyFrameRecord> keys;
    for (int64_t s : seconds) keys.push_back(KeyFrameRecord{static_cast<int32_t>(keys.size()), 0, s * kSecond, 0});
    return keys;
}

struct BoundsCase {
    const char* what;
    int64_t start, length;  // seconds
    bool fromStart;
    int64_t wantStart;
    bool toEnd;
    int64_t wantEnd;
};

// Key frames every 2 s over a 10 s file; one at -0.5 s stands for an edit
// list's pre-roll in a second table.
TEST(ClipTiming, BoundsFollowKeyFramesAndTheFileEnds) {
    const auto keys = KeysAt({0, 2, 4, 6, 8});
    const std::vector<BoundsCase> cases = {
        {"first clip takes the file's start", 0, 3, true, 0, false, 4},
        {"middle clip: both ends snap, ties to the later key frame", 3, 4, false, 4, false, 8},
        {"last clip runs to the end", 7, 3, false, 8, true, 10},
        {"end as near the file end as a key frame", 4, 5, false, 4, true, 10},
        {"shorter than a group still holds one", 4, 0, false, 4, false, 6},
    };
    for (const auto& c : cases) {
        kx::ClipBounds b = kx::TimeClipBounds(ClipRange{c.start * kSecond, c.length * kSecond, 0}, keys, 10 * kSecond, false);
        EXPECT_EQ(b.fromFileStart, c.fromStart) << c.what;
        EXPECT_EQ(b.start, c.wantStart * kSecond) << c.what;
        EXPECT_EQ(b.toFileEnd, c.toEnd) << c.what;
        if (!c.toEnd) {
            EXPECT_EQ(b.end, c.wantEnd * kSecond) << c.what;
        }
    }
    // Consecutive clips [0,3) [3,5) [5,10) tile the file without gap or overlap.
    int64_t previousEnd = 0;
    for (auto [start, length] : std::vector<std::pair<int64_t, int64_t>>{{0, 3}, {3, 2}, {5, 5}}) {
        kx::ClipBounds b = kx::TimeClipBounds(ClipRange{start * kSecond, length * kSecond, 0}, keys, 10 * kSecond, false);
        EXPECT_EQ(b.start, previousEnd);
        previousEnd = b.toFileEnd ? 10 * kSecond : b.end;
    }
    EXPECT_EQ(previousEnd, 10 * kSecond);
}

TEST(ClipTiming, PreRollKeyFrameBeforeZeroStartsTheFirstClip) {
    auto keys = KeysAt({0, 2});
    keys[0].time = -kSecond / 2;  // shown from 0 through the edit list
    kx::ClipBounds b = kx::TimeClipBounds(ClipRange{0, kSecond, 0}, keys, 4 * kSecond, false);
    EXPECT_TRUE(b.fromFileStart);
    EXPECT_EQ(b.start, -kSecond / 2);
    kx::ClipBounds any = kx::TimeClipBounds(ClipRange{kSecond, kSecond, 0}, keys, 4 * kSecond, true);
    EXPECT_EQ(any.start, kSecond);  // any picture: not moved
    EXPECT_EQ(any.end, 2 * kSecond);
}

// Decoding orders of real encoders: the derived times rise, never pass the
// pts, and are the presentation times shifted by the reorder depth.
TEST(ClipTiming, DerivedDecodingTimesRiseAndPrecedePresentation) {
    const int64_t f = 400'000;  // 25 fps
    struct Order {
        const char* what;
        int depth;
        std::vector<int64_t> frames;  // presentation index in decoding order
    };
    const std::vector<Order> orders = {
        {"no B-frames", 0, {0, 1, 2, 3, 4, 5}},
        {"one B-frame", 1, {0, 2, 1, 4, 3, 6, 5}},
        {"B-pyramid", 2, {0, 4, 2, 1, 3, 8, 6, 5, 7}},
        {"open group: leading pictures after the I", 2, {0, 3, 1, 2, 6, 4, 5}},
    };
    for (const auto& o : orders) {
        kx::DtsDeriver deriver(o.depth, f);
        int64_t last = INT64_MIN;
        std::vector<int64_t> sorted = o.frames;
        std::sort(sorted.begin(), sorted.end());
        for (size_t i = 0; i < o.frames.size(); ++i) {
            int64_t pts = o.frames[i] * f + 5 * kSecond;
            int64_t dts = deriver.Next(pts);
            EXPECT_GT(dts, last) << o.what << " #" << i;
            EXPECT_LE(dts, pts) << o.what << " #" << i;
            last = dts;
        }
    }
    kx::DtsDeriver deriver(2, f);
    EXPECT_EQ(deriver.Next(AV_NOPTS_VALUE), AV_NOPTS_VALUE);
    EXPECT_EQ(deriver.Next(0), -2 * f);  // counted back from the first picture
    deriver.Reset();
    EXPECT_EQ(deriver.Next(10 * f), 8 * f);  // a seek starts a new run
}

}  // namespace
