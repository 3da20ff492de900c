// The part of an H.264 sequence parameter set that every reader of it must
// step over the same way before it reaches the fields it wants.
#pragma once

#include <cstdint>
#include <optional>

#include "input/RbspBitReader.h"

namespace kx {

struct H264SpsStart {
    uint32_t profile = 0;  // profile_idc
    uint32_t id = 0;       // seq_parameter_set_id, unchecked: each reader keeps its own table
    uint32_t format = 1;   // chroma_format_idc: 4:2:0 unless the profile says
    bool separateColourPlane = false;
    uint32_t lumaDepthMinus8 = 0;  // bit_depth_luma_minus8
    uint32_t chromaDepthMinus8 = 0;
};

// Reads an SPS payload (after its NAL header byte) from its start through the
// fields the high profiles carry (chroma format, bit depths, scaling lists),
// leaving `bits` at log2_max_frame_num_minus4; none when those fields cannot
// be read.
std::optional<H264SpsStart> ReadH264SpsStart(RbspBitReader& bits);

}  // namespace kx
