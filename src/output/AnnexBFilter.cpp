#include "output/AnnexBFilter.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavutil/error.h>
}

#include "input/DemuxTypes.h"

namespace kx {

std::unique_ptr<AnnexBFilter> AnnexBFilter::Create(const uint8_t* extradata, int32_t extradataSize) {
    const AVBitStreamFilter* filter = av_bsf_get_by_name("h264_mp4toannexb");
    AVBSFContext* context = nullptr;
    if (!filter || av_bsf_alloc(filter, &context) < 0) return nullptr;
    AVCodecParameters* in = context->par_in;
    in->codec_type = AVMEDIA_TYPE_VIDEO;
    in->codec_id = AV_CODEC_ID_H264;
    if (extradata && extradataSize > 0) {
        in->extradata = static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(extradataSize) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!in->extradata) {
            av_bsf_free(&context);
            return nullptr;
        }
        std::memcpy(in->extradata, extradata, static_cast<size_t>(extradataSize));
        in->extradata_size = extradataSize;
    }
    context->time_base_in = AVRational{1, static_cast<int>(kTicksPerSecond)};
    if (av_bsf_init(context) < 0) {
        av_bsf_free(&context);
        return nullptr;
    }
    return std::unique_ptr<AnnexBFilter>(new AnnexBFilter(context));
}

AnnexBFilter::~AnnexBFilter() { av_bsf_free(&context_); }

bool AnnexBFilter::Filter(AVPacket* packet) {
    if (!packet || packet->size <= 0) return false;
    AVPacket* in = av_packet_alloc();
    AVPacket* out = av_packet_alloc();
    bool filtered = false;
    if (in && out && av_packet_ref(in, packet) >= 0 && av_bsf_send_packet(context_, in) >= 0 &&
        av_bsf_receive_packet(context_, out) >= 0) {
        out->pts = packet->pts;
        out->dts = packet->dts;
        out->duration = packet->duration;
        out->flags = packet->flags;
        out->stream_index = packet->stream_index;
        av_packet_unref(packet);
        av_packet_move_ref(packet, out);
        filtered = true;
    }
    // One packet in gives at most one out; anything left is dropped so that
    // the next packet starts clean.
    while (out && av_bsf_receive_packet(context_, out) >= 0) av_packet_unref(out);
    av_packet_free(&in);
    av_packet_free(&out);
    return filtered;
}

}  // namespace kx
