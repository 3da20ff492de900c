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

// The kinds of picture an exact cut tells apart, by the NAL unit type of
// the first slice of the base layer.
enum class HevcPictureKind {
    kIdr,        // starts a coded video sequence; nothing after it refers before it
    kCra,        // a clean random access point; its RASL pictures may refer before it
    kOtherIrap,  // BLA or reserved
    kRasl,       // leading picture that may refer before its CRA
    kRadl,       // leading picture decodable from its key frame on
    kTrailing,
    kUnknown,  // no slice found
};
HevcPictureKind HevcPictureKindOf(const uint8_t* data, int size, H264PacketForm form);

// An hvcC record gives length prefixes of lengthSizeMinusOne + 1 bytes (low
// 2 bits of byte 21); parameter sets behind start codes, missing or short
// extradata mean start codes.
H264PacketForm HevcFormOfExtradata(const uint8_t* extradata, size_t size);

}  // namespace kx
