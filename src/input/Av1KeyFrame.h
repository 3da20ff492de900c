// Tells from the bytes of one AV1 temporal unit whether it starts a key frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// Key when the unit's first frame header (a frame header OBU or a frame OBU)
// is a key frame shown at once: show_existing_frame 0, frame_type KEY_FRAME,
// show_frame 1. A hidden key frame may leave reference slots to the frames
// before it, and a key frame shown again from a slot needs what came before
// to be decoded, so neither counts. Under a reduced still picture header
// (`stillPictures`, from the stream's extradata, or a sequence header earlier
// in the unit) every frame is a key frame. Anything malformed is no key frame.
bool IsAv1KeyFrame(const uint8_t* data, int size, bool stillPictures);

// Whether the sequence header in a stream's extradata sets
// reduced_still_picture_header. The extradata is an av1C record (a 4-byte
// header, then OBUs) or the OBUs alone; false without a sequence header.
bool Av1StillPicturesOfExtradata(const uint8_t* extradata, size_t size);

}  // namespace kx
