// The library's "h264_mp4toannexb" filter for one output stream: H.264 in
// length-prefixed form becomes Annex B, with the parameter sets in front of
// key frames; input already in Annex B passes through.
#pragma once

#include <cstdint>
#include <memory>

struct AVBSFContext;
struct AVPacket;

namespace kx {

class AnnexBFilter {
public:
    // Set up from the stream's source parameters (its extradata as read from
    // the input); null when the library refuses them.
    static std::unique_ptr<AnnexBFilter> Create(const uint8_t* extradata, int32_t extradataSize);
    ~AnnexBFilter();
    AnnexBFilter(const AnnexBFilter&) = delete;
    AnnexBFilter& operator=(const AnnexBFilter&) = delete;

    // Replaces the packet's payload by the filter's output; timestamps and
    // flags stay. False when the filter gave nothing (the packet is unchanged).
    bool Filter(AVPacket* packet);

private:
    explicit AnnexBFilter(AVBSFContext* context) : context_(context) {}
    AVBSFContext* context_;
};

}  // namespace kx
