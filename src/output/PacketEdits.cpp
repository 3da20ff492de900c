#include "output/PacketEdits.h"

#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

#include "input/DemuxTypes.h"

namespace kx {

void RescaleTicksToStreamTime(AVPacket* packet, AVRational timeBase) {
    if (!packet) return;
    const AVRational ticks{1, static_cast<int>(kTicksPerSecond)};
    if (packet->dts != AV_NOPTS_VALUE) packet->dts = av_rescale_q(packet->dts, ticks, timeBase);
    if (packet->pts != AV_NOPTS_VALUE) packet->pts = av_rescale_q(packet->pts, ticks, timeBase);
    packet->duration = av_rescale_q(packet->duration, ticks, timeBase);
}

bool ReplacePayload(AVPacket* packet, const uint8_t* data, size_t size) {
    if (!packet || size > static_cast<size_t>(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) return false;
    AVBufferRef* buffer = av_buffer_alloc(size + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!buffer) return false;
    if (size > 0) std::memcpy(buffer->data, data, size);
    std::memset(buffer->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    av_buffer_unref(&packet->buf);
    packet->buf = buffer;
    packet->data = buffer->data;
    packet->size = static_cast<int>(size);
    return true;
}

bool PrependExtradata(AVPacket* packet, const uint8_t* extradata, int32_t extradataSize) {
    if (!packet || !extradata || packet->size < 1 || extradataSize < 1) return true;
    const int oldSize = packet->size;
    if (av_grow_packet(packet, extradataSize) < 0) return false;
    std::memmove(packet->data + extradataSize, packet->data, static_cast<size_t>(oldSize));
    std::memcpy(packet->data, extradata, static_cast<size_t>(extradataSize));
    return true;
}

}  // namespace kx
