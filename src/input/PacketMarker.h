// A packet recognised again when the file is read once more from an earlier
// place: a reader whose shared file was moved by another reader skips what
// it was already given.
#pragma once

#include <cstdint>

struct AVPacket;

namespace kx {

struct PacketMarker {
    int32_t streamIndex = -1;
    int64_t position = -1;  // byte position in the file; -1 when the container does not say
    int64_t time = 0;       // decoding time, else presentation time (stream time base)
    bool timed = false;
    int32_t size = 0;
};

// Where a packet of the marker's stream lies relative to the marked one.
enum class MarkerPlace { kBefore, kSame, kPast };

PacketMarker MarkerOf(const AVPacket* packet);

MarkerPlace PlaceOf(const AVPacket* packet, const PacketMarker& marker);
// The same for a packet known by its marker only.
MarkerPlace PlaceOfMarker(const PacketMarker& packet, const PacketMarker& marker);

}  // namespace kx
