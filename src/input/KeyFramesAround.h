// The key frames of a video stream around a few times, found by seeking near
// each time and reading from there, instead of reading the whole stream.
// A split at given times needs only the key frames next to its cuts; a
// transport stream has no index to list them, and reading all of it first
// costs as much as the copy itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "KX_Remuxion.h"  // KeyFrameRecord

struct AVFormatContext;

namespace kx {

// Key frames a search has read in one go: one after another in the stream,
// none left out between them. A later search for a time these already frame
// is answered without reading: a split's cuts are asked for once to place
// them on key frames and again, so placed, to plan the clips.
class KeyFrameRuns {
public:
    struct Run {
        int streamIndex = -1;
        std::vector<KeyFrameRecord> keys;  // in time order
        std::vector<int64_t> idrTimes;     // of those that are H.264 IDR pictures
        bool fromStart = false;            // the read began at the file's start
        bool toEnd = false;                // and ran to its end
    };

    // The answer for `t` from one run, appended to `found`; false if none
    // holds it.
    bool Answer(int streamIndex, int64_t t, std::vector<KeyFrameRecord>* found) const;
    void Add(const Run& run) { runs_.push_back(run); }
    bool KnownIdr(int streamIndex, int64_t time) const;

private:
    std::vector<Run> runs_;
};

// For the start of the file and each time (ticks relative to `timeZero`):
// the last key frame at or before it and the next two after it, in time
// order without repeats. The key-frame and packet numbers are -1: only a
// whole read counts packets. None where the container's seeking is not
// trusted to land before a time (only Matroska and MPEG-TS are searched),
// a key frame comes without a time, a seek fails, or `cancel` is set: the
// caller then indexes the whole stream. The reading position is left
// anywhere: the caller rewinds. `seen` answers what earlier searches read
// and keeps what this one reads.
std::optional<std::vector<KeyFrameRecord>> KeyFramesAround(AVFormatContext* format, int streamIndex,
                                                           int64_t timeZero, const std::vector<int64_t>& times,
                                                           const std::atomic<int>& cancel, KeyFrameRuns* seen);

}  // namespace kx
