// The sample description of a 3GPP timed-text (mov_text) stream as the media
// library hands it out: the fixed text-sample-entry fields, the font table
// box, and any child boxes the file's sample entry carried, among them 'btrt'
// (the stream's buffer size and bit rates). Those rates belong to one file:
// every clip of a split gets its own, written by the library's muxer, so two
// streams with the same subtitle set-up differ in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx {

// The description without its 'btrt' boxes. Bytes that do not parse as the
// fixed fields followed by whole boxes come back unchanged.
std::vector<uint8_t> MovTextHeaderWithoutBitRates(const uint8_t* data, size_t size);

}  // namespace kx
