// Edits of a packet on its way into a container: timestamps from 100-ns ticks
// into a stream's time base, a new payload, a prefix.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/rational.h>
}

namespace kx {

// pts and dts (unless unknown) and duration (always) from ticks to `timeBase`.
void RescaleTicksToStreamTime(AVPacket* packet, AVRational timeBase);

// Replaces the payload with a copy of `size` bytes; timestamps, flags and side
// data stay. False (packet unchanged) when no memory is left.
bool ReplacePayload(AVPacket* packet, const uint8_t* data, size_t size);

// Puts `extradata` in front of the payload when both hold at least one byte.
// False only when the packet could not grow (it is unchanged then).
bool PrependExtradata(AVPacket* packet, const uint8_t* extradata, int32_t extradataSize);

}  // namespace kx
