// Where a clip cut at any picture copies and where it encodes again: the
// pictures from its start to the first key frame after it, and from the last
// key frame before its end to the end. Times on the file's own clock.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "task/FileRecord.h"

namespace kx {

struct EdgeCutPlan {
    int64_t start = 0;           // the requested start (ticks)
    int64_t end = 0;             // the requested end (ticks)
    bool fromFileStart = false;  // the clip takes the file's start, as a first clip
    bool toFileEnd = false;      // the clip takes the rest of the file
    bool startOnKey = false;     // the start falls on a key frame: nothing before it is encoded
    bool endOnKey = false;       // the end falls on a key frame: nothing before it is encoded
    // The key frame copying starts at; none when the clip ends before one.
    std::optional<int64_t> copyFrom;
    // The key frame copying ends at and encoding resumes from, up to the end;
    // none when copying runs to the end.
    std::optional<int64_t> encodeTailFrom;

    bool EncodesHead() const { return !startOnKey; }
    bool EncodesTail() const { return encodeTailFrom.has_value(); }
    bool EncodesAnything() const { return EncodesHead() || EncodesTail(); }
};

// The plan for the clip [range.start, range.start + range.length) over the
// file's key frames (at least one); fileDuration 0 when unknown.
EdgeCutPlan PlanEdgeCut(const ClipRange& range, const std::vector<KeyFrameRecord>& keyFrames, int64_t fileDuration);

// The key frame at or before t (the first one when t precedes it).
int64_t KeyFrameAtOrBefore(const std::vector<KeyFrameRecord>& keyFrames, int64_t t);

}  // namespace kx
