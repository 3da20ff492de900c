// What a copied stream takes from its source besides the description the
// interfaces show: the codec parameters as the demuxer read them (colour
// description, field order, chroma siting, codec tag), the stream's tags
// (language, title), its disposition and its side data (display matrix,
// HDR mastering display and light levels). Owned copies, so an output can be
// set up after the source is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavcodec/packet.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

struct AVStream;

namespace kx {

struct SourceStream {
    SourceStream() = default;
    ~SourceStream();
    SourceStream(const SourceStream&) = delete;
    SourceStream& operator=(const SourceStream&) = delete;

    struct SideData {
        AVPacketSideDataType type;
        std::vector<uint8_t> bytes;
    };

    AVCodecParameters* parameters = nullptr;
    AVDictionary* tags = nullptr;  // without the statistics that describe the source file only
    int disposition = 0;
    std::vector<SideData> sideData;
    AVRational timeBase{0, 1};
    AVRational averageFrameRate{0, 1};
    AVRational realFrameRate{0, 1};
    AVRational sampleAspectRatio{0, 1};
};

// Null when the copy cannot be made (out of memory).
std::shared_ptr<const SourceStream> CopySourceStream(const AVStream* stream);

}  // namespace kx
