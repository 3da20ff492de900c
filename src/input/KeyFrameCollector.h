// Tells, packet by packet in file order, which packets of one video stream
// are key frames. The key-frame scan and the whole-file packet count use the
// same rules, so a key-frame index taken from either pass is the same.
#pragma once

#include <cstdint>
#include <vector>

#include "input/DemuxTypes.h"
#include "input/VideoKeyFrame.h"

struct AVPacket;
struct AVStream;

namespace kx {

// A key frame as read: its packet number in the stream and its shown time on
// the stream's clock in ticks (untimed when the container gave none).
struct KeyFrameSighting {
    int64_t frameNumber = 0;
    bool timed = false;
    int64_t shownTicks = 0;
};

class KeyFrameCollector {
public:
    explicit KeyFrameCollector(const AVStream* stream);

    // The next packet of the stream; true when it is a key frame (Last()
    // then describes it).
    bool Take(const AVPacket* packet);
    const KeyFrameSighting& Last() const { return last_; }
    // Packets taken so far, less one: the number of the packet last taken.
    int64_t FrameNumber() const { return frameNumber_; }

private:
    const AVStream* stream_;
    BitstreamForm form_;
    int64_t frameNumber_ = -1;
    KeyFrameSighting last_;
};

// The record of the `keyFrameNumber`th key frame on a file clock that starts
// at `timeZero` ticks; an untimed key frame is placed at 0.
KeyFrameRecord KeyFrameRecordOf(const KeyFrameSighting& sighting, int32_t keyFrameNumber, int64_t timeZero);

}  // namespace kx
