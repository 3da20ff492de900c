// Tells from the bytes of one H.264 or HEVC packet that no later picture
// refers to its picture: a decoder may then leave out a picture that is not
// wanted itself, and what it decodes after stays the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "input/H264PacketForm.h"

namespace kx {

// Slices with nal_ref_idc 0 only, next to nothing but SEI, access unit
// delimiters and filler: any other unit (parameter sets, the end of a
// sequence) may carry state that later pictures need.
bool IsUnreferencedH264Picture(const uint8_t* data, int size, H264PacketForm form);

// Sub-layer non-reference slices of the base layer in the highest sub-layer
// (no picture of a higher one may refer to them), next to nothing but SEI,
// access unit delimiters and filler.
bool IsUnreferencedHevcPicture(const uint8_t* data, int size, H264PacketForm form, int highestTemporalId);

// The highest temporal id the stream's description allows: the largest
// sps_max_sub_layers_minus1 of its sequence parameter sets (hvcC or Annex B);
// none without one.
std::optional<int> HevcHighestTemporalId(const uint8_t* extradata, size_t size);

}  // namespace kx
