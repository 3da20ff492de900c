#include "task/InBandParameterSets.h"

#include <cstring>

extern "C" {
#include <libavcodec/packet.h>
}

#include "input/DemuxTypes.h"

namespace kx {

namespace {
constexpr int32_t kH264 = 28;

void AppendUnit(std::vector<uint8_t>& out, const uint8_t* unit, int length, int lengthSize) {
    for (int shift = (lengthSize - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(length >> shift));
    out.insert(out.end(), unit, unit + length);
}
}  // namespace

std::vector<uint8_t> ParameterSetsFromAvcC(const uint8_t* avcc, int size) {
    std::vector<uint8_t> out;
    if (!avcc || size < 7 || avcc[0] != 1) return {};
    int lengthSize = (avcc[4] & 3) + 1;
    if (lengthSize == 3) return {};
    int pos = 5;
    for (int list = 0; list < 2; ++list) {
        if (pos >= size) return {};
        int count = list == 0 ? (avcc[pos] & 0x1F) : avcc[pos];
        ++pos;
        for (int i = 0; i < count; ++i) {
            if (pos + 2 > size) return {};
            int length = (avcc[pos] << 8) | avcc[pos + 1];
            pos += 2;
            if (length == 0 || pos + length > size) return {};
            if (lengthSize == 1 && length > 255) return {};
            if (lengthSize == 2 && length > 65535) return {};
            AppendUnit(out, avcc + pos, length, lengthSize);
            pos += length;
        }
    }
    return out;
}

std::vector<uint8_t> KeyFramePrefixFor(const StreamMediaInfo* reference, const StreamMediaInfo* file) {
    if (!reference || !file || reference->mediaType != MediaType::kVideo || file->mediaType != MediaType::kVideo) return {};
    if (file->codecId != kH264) return {};
    const auto& a = reference->video;
    const auto& b = file->video;
    if (a.extradataSize == b.extradataSize &&
        (a.extradataSize == 0 || std::memcmp(a.extradata, b.extradata, static_cast<size_t>(a.extradataSize)) == 0))
        return {};
    return ParameterSetsFromAvcC(b.extradata, b.extradataSize);
}

bool PrependToPacket(AVPacket* packet, const std::vector<uint8_t>& prefix) {
    if (prefix.empty()) return true;
    AVPacket* joined = av_packet_alloc();
    if (!joined) return false;
    if (av_new_packet(joined, static_cast<int>(prefix.size()) + packet->size) < 0 ||
        av_packet_copy_props(joined, packet) < 0) {
        av_packet_free(&joined);
        return false;
    }
    std::memcpy(joined->data, prefix.data(), prefix.size());
    if (packet->size > 0) std::memcpy(joined->data + prefix.size(), packet->data, static_cast<size_t>(packet->size));
    joined->stream_index = packet->stream_index;
    av_packet_unref(packet);
    av_packet_move_ref(packet, joined);
    av_packet_free(&joined);
    return true;
}

}  // namespace kx
