#include "input/PacketMarker.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

namespace kx {

namespace {

// Packets of one stream come in decoding order.
int64_t OrderTime(const AVPacket* packet) { return packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts; }

}  // namespace

PacketMarker MarkerOf(const AVPacket* packet) {
    PacketMarker marker;
    marker.streamIndex = packet->stream_index;
    marker.position = packet->pos;
    const int64_t time = OrderTime(packet);
    marker.timed = time != AV_NOPTS_VALUE;
    marker.time = marker.timed ? time : 0;
    marker.size = packet->size;
    return marker;
}

MarkerPlace PlaceOf(const AVPacket* packet, const PacketMarker& marker) {
    return PlaceOfMarker(MarkerOf(packet), marker);
}

MarkerPlace PlaceOfMarker(const PacketMarker& packet, const PacketMarker& marker) {
    const bool timed = marker.timed && packet.timed;
    if (marker.position >= 0 && packet.position >= 0) {
        if (packet.position != marker.position)
            return packet.position < marker.position ? MarkerPlace::kBefore : MarkerPlace::kPast;
        // One container packet may carry several frames (sound in a
        // transport stream's PES packet): their times tell them apart.
        if (timed && packet.time != marker.time)
            return packet.time < marker.time ? MarkerPlace::kBefore : MarkerPlace::kPast;
        return packet.size == marker.size ? MarkerPlace::kSame : MarkerPlace::kBefore;
    }
    if (!timed) return MarkerPlace::kBefore;  // nothing to tell by: look on
    if (packet.time != marker.time) return packet.time < marker.time ? MarkerPlace::kBefore : MarkerPlace::kPast;
    return packet.size == marker.size ? MarkerPlace::kSame : MarkerPlace::kBefore;
}

}  // namespace kx
