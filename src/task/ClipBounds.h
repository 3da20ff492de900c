// Where a time clip begins and ends in its file, on the file's own clock
// (0 is the earliest start of the selected streams).
#pragma once

#include <cstdint>
#include <vector>

#include "task/FileRecord.h"

namespace kx {

struct ClipBounds {
    bool fromFileStart = false;  // also takes what lies before the first key frame
    int64_t start = 0;           // the video key frame the clip starts with (ticks)
    bool toFileEnd = false;      // takes everything up to the end of the input
    int64_t end = 0;             // the key frame that starts the next clip (ticks)
    int64_t minVideoPackets = 0;
    bool anyFrame = false;       // the clip may start at any picture
    // The output starts every stream at 0 (AVI): sound cannot begin before
    // the first picture, so a packet across the start stays with the clip
    // before unless most of it sounds in this one.
    bool streamsStartTogether = false;
};

// The bounds of a time clip [start, start + length). With key frames known,
// both ends move to the nearest key frame (the end of the file counts as
// one for the end), so clips that follow each other in the host's times
// follow each other exactly in the file.
ClipBounds TimeClipBounds(const ClipRange& range, const std::vector<KeyFrameRecord>& keyFrames,
                          int64_t fileDuration, bool anyFrame);

}  // namespace kx
