// Key frames told from a packet's own bytes, for the video codecs whose
// containers do not always flag them: H.264, HEVC, AV1 and VP9. Other codecs
// have only the container's flag, and this answers false for them.
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "input/H264PacketForm.h"

struct AVCodecParameters;

namespace kx {

// What a stream's extradata tells about reading its packets; worked out
// once per stream.
struct BitstreamForm {
    H264PacketForm nalUnits;        // H.264 and HEVC: start codes or length prefixes
    bool av1StillPictures = false;  // AV1: a reduced still picture header, every frame key
};

BitstreamForm BitstreamFormOfStream(const AVCodecParameters* parameters);

bool IsKeyFrameByBitstream(AVCodecID codec, const uint8_t* data, int size, const BitstreamForm& form);

}  // namespace kx
