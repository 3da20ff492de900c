// The part of an H.264 sequence parameter set that every reader of it must
// step over the same way before it reaches the fields it wants.
#pragma once

#include <cstdint>
#include <optional>

#include "input/RbspBitReader.h"

namespace kx {

struct H264SpsChroma {
    uint32_t format = 1;  // chroma_format_idc: 4:2:0 unless the profile says
    bool separateColourPlane = false;
    uint32_t lumaDepthMinus8 = 0;  // bit_depth_luma_minus8
    uint32_t chromaDepthMinus8 = 0;
};

// Reads the fields after seq_parameter_set_id that the high profiles carry
// (chroma format, bit depths, scaling lists), for `profile`; none when they
// cannot be read.
std::optional<H264SpsChroma> ReadH264SpsChroma(RbspBitReader& bits, uint32_t profile);

}  // namespace kx
