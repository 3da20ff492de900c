// Tells from the bytes of one VP9 packet whether it starts a key frame.
#pragma once

#include <cstdint>

namespace kx {

// Key when the uncompressed header says a key frame: frame_marker 2,
// show_existing_frame 0, frame_type 0 (KEY_FRAME) and the frame sync code
// after it. A superframe (frames with an index at the end) is read by its
// first frame: a key frame refreshes every reference, so what follows it in
// the superframe depends on nothing before.
bool IsVp9KeyFrame(const uint8_t* data, int size);

}  // namespace kx
