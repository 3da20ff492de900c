// Tells from the bytes of one HEVC packet whether it starts a key frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "input/H264PacketForm.h"

namespace kx {

// Key when the access unit's picture is an IRAP picture (BLA, IDR or CRA:
// NAL unit types 16 to 23); a CRA followed by leading pictures it cannot
// decode is an open-GOP start and counts, like an open-GOP I picture in
// H.264. The first slice of the base layer decides. HEVC packets come in the
// same two forms as H.264's and are read in the given form only.
bool IsHevcKeyFrame(const uint8_t* data, int size, H264PacketForm form);

// An hvcC record gives length prefixes of lengthSizeMinusOne + 1 bytes (low
// 2 bits of byte 21); parameter sets behind start codes, missing or short
// extradata mean start codes.
H264PacketForm HevcFormOfExtradata(const uint8_t* extradata, size_t size);

}  // namespace kx
