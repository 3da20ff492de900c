// A packet of the media library that frees itself.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/packet.h>
}

namespace kx {

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using OwnedPacket = std::unique_ptr<AVPacket, PacketFree>;

inline OwnedPacket NewPacket() { return OwnedPacket(av_packet_alloc()); }

}  // namespace kx
