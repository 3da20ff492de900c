// After a seek into the middle of a program or transport stream, the
// library's parser hands out the first picture with the tail of the picture
// before it in front: bytes that belong to no unit of the packet. A writer
// reading the packet's form from its first bytes would take them for a
// length prefix and drop the picture, a key frame as often as not.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// How many bytes of an Annex B packet come before its first start code
// (00 00 01, or 00 00 00 01); 0 when it begins with one or holds none.
size_t AnnexBRemnantLength(const uint8_t* data, size_t size);

}  // namespace kx
