// A merge writes every file under the first file's stream description. When
// a later file's H.264 parameter sets differ (x264 tunes the PPS to the bit
// rate, for one), its key frames carry their own SPS and PPS in-band, so that
// decoders switch to them at the join and after any seek.
#pragma once

#include <cstdint>
#include <vector>

struct AVPacket;

namespace kx {

struct StreamMediaInfo;

// The SPS and PPS of an avcC record as length-prefixed NAL units, in the
// record's own length size; empty when the record is not avcC or is damaged.
std::vector<uint8_t> ParameterSetsFromAvcC(const uint8_t* avcc, int size);

// The prefix a file's key frames need in a merge whose output was set up from
// `reference`: empty when both describe the same parameter sets.
std::vector<uint8_t> KeyFramePrefixFor(const StreamMediaInfo* reference, const StreamMediaInfo* file);

// Puts the prefix in front of the packet's data; false when out of memory.
bool PrependToPacket(AVPacket* packet, const std::vector<uint8_t>& prefix);

}  // namespace kx
