// Bytes, packets and time span of chosen streams, counted in one pass over
// a file opened apart from the caller's (whose reading position stays where
// it is). For containers that keep no bit rate of their own.
#pragma once

#include <cstdint>
#include <vector>

#include "input/InputOpen.h"
#include "input/KeyFrameCollector.h"

struct AVFormatContext;

namespace kx {

struct StreamTally {
    bool counted = false;  // the pass found the stream and read it
    int64_t bytes = 0;
    int64_t packets = 0;
    double seconds = 0;           // from the earliest packet time to the end of the latest packet
    double intervalSeconds = 0;   // from the earliest packet time to the latest one
    // Video: every key frame, found as the key-frame scan finds them (the
    // pass then reads the file as a stream reader does).
    std::vector<KeyFrameSighting> keyFrames;
};

// One entry per stream of `described` (the open, described file); only the
// streams marked in `wanted` are read, and the key frames of those that are
// video are noted on the way. A stream of the second open that does
// not match the described one (another kind or id) is not counted; so is
// everything when the file cannot be opened again.
std::vector<StreamTally> TallyPackets(const InputSource& source, const AVFormatContext* described,
                                      const std::vector<bool>& wanted);

}  // namespace kx
