#include "task/ClipBounds.h"

#include "task/CopySteps.h"

namespace kx {

namespace {

// The first key frame later than t, or none (-1 index).
int64_t FirstKeyAfter(const std::vector<KeyFrameRecord>& keyFrames, int64_t t, bool* found) {
    for (const auto& record : keyFrames)
        if (record.time > t) {
            *found = true;
            return record.time;
        }
    *found = false;
    return 0;
}

}  // namespace

ClipBounds TimeClipBounds(const ClipRange& range, const std::vector<KeyFrameRecord>& keyFrames,
                          int64_t fileDuration, bool anyFrame) {
    ClipBounds bounds;
    bounds.anyFrame = anyFrame;
    bounds.minVideoPackets = range.count;
    const int64_t requestedEnd = range.start + range.length;
    if (anyFrame || keyFrames.empty()) {
        bounds.fromFileStart = range.start <= 0;
        bounds.start = range.start;
        bounds.toFileEnd = fileDuration > 0 && requestedEnd >= fileDuration;
        bounds.end = requestedEnd;
        return bounds;
    }
    bounds.start = SnapToKeyFrame(keyFrames, range.start);
    // The first clip of a file begins with whatever precedes its first key
    // frame: pre-roll hidden by an edit list, audio priming.
    bounds.fromFileStart = range.start <= 0 || bounds.start <= keyFrames.front().time;
    if (bounds.fromFileStart) bounds.start = keyFrames.front().time;

    int64_t end = SnapToKeyFrame(keyFrames, requestedEnd);
    const bool fileEndNearer = fileDuration > 0 && fileDuration - requestedEnd <= (requestedEnd > end ? requestedEnd - end : end - requestedEnd);
    if (fileDuration > 0 && (fileEndNearer || requestedEnd >= fileDuration)) {
        bounds.toFileEnd = true;
        bounds.end = fileDuration;
        return bounds;
    }
    if (end <= bounds.start) {
        // A clip shorter than its key-frame interval still holds one group.
        bool found = false;
        end = FirstKeyAfter(keyFrames, bounds.start, &found);
        if (!found) {
            bounds.toFileEnd = true;
            bounds.end = fileDuration;
            return bounds;
        }
    }
    bounds.end = end;
    return bounds;
}

}  // namespace kx
