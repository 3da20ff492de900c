// Finds the NAL units of an Annex B packet (H.264, HEVC) by their start codes.
#pragma once

#include <cstdint>

namespace kx {

// Where the NAL unit behind the first start code at or after `from` begins,
// or -1. A start code is 00 00 01, or 00 00 00 01 when a zero comes first;
// either way the unit begins behind its 01 byte. Only start codes that begin
// at or before size - 5 count.
int NextNalUnit(const uint8_t* data, int size, int from);

}  // namespace kx
