// Tells from the bytes of one H.264 packet whether it starts a key frame.
#pragma once

#include <cstdint>

#include "input/H264PacketForm.h"

namespace kx {

// Key when the first NAL unit that tells anything is an IDR slice or an I
// slice (open-GOP I pictures count as key frames). The packet is read in the
// given form only: Annex B by its start codes, length-prefixed data unit by
// unit along its prefixes, never searched for start codes.
bool IsH264KeyFrame(const uint8_t* data, int size, H264PacketForm form);

// Whether the packet's first slice is an IDR slice: a picture after which
// nothing refers to an earlier one (an open-GOP I picture is not).
bool IsH264IdrPicture(const uint8_t* data, int size, H264PacketForm form);

}  // namespace kx
