// Tells from the bytes of one H.264 packet whether it starts a key frame.
#pragma once

#include <cstdint>

namespace kx {

// Key when the first NAL unit that tells anything is an IDR slice or an I
// slice. Looks for start codes first (Annex B); when that finds no answer or
// a P/B slice, tries the data as one length-prefixed NAL unit (the MP4 form).
bool IsH264KeyFrame(const uint8_t* data, int size);

}  // namespace kx
