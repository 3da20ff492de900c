// One selected stream of a single-file reader, keyed by stream index.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "input/VideoKeyFrame.h"

namespace kx {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct StreamEntry {
    int32_t streamIndex = 0;
    MediaType mediaType = MediaType::kNone;
    CodecContextPtr codecContext;    // the stream's own decoding context
    const AVCodec* decoder = nullptr;
    int64_t startTime = 0;           // ticks
    int64_t audioClock = 0;          // ticks; advanced by decoded audio
    BitstreamForm bitstreamForm;     // video: how key frames are told from packet bytes
};

// Ordered by stream index, so iteration and ties follow ascending index.
using StreamMap = std::map<int, StreamEntry>;

}  // namespace kx
