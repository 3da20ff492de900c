#include "input/MediaInfoBuilder.h"

#include <climits>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "input/DemuxTime.h"
#include "input/SourceStream.h"
#include "input/StreamEntry.h"
#include "media/MediaKernel.h"

namespace kx {

namespace {

int32_t ClampToInt32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

bool Usable(AVRational r) { return r.num > 0 && r.den > 0; }

uint8_t* CopyExtradata(const AVCodecContext* context, int32_t* size) {
    *size = 0;
    if (!context->extradata || context->extradata_size <= 0) return nullptr;
    auto* copy = new (std::nothrow) uint8_t[context->extradata_size];
    if (!copy) return nullptr;
    std::memcpy(copy, context->extradata, context->extradata_size);
    *size = context->extradata_size;
    return copy;
}

// The codec time base a decoder of old reported: 1 / (frame rate x ticks per
// frame) for video, 1 / sample rate for audio, when the context has none.
AVRational CodecTimeBase(const AVCodecContext* context, const AVStream* stream) {
    if (Usable(context->time_base)) return context->time_base;
    if (context->codec_type == AVMEDIA_TYPE_AUDIO)
        return context->sample_rate > 0 ? AVRational{1, context->sample_rate} : AVRational{0, 1};
    AVRational rate = Usable(context->framerate) ? context->framerate
                      : Usable(stream->r_frame_rate) ? stream->r_frame_rate
                                                     : stream->avg_frame_rate;
    if (!Usable(rate)) return AVRational{0, 1};
    return av_inv_q(av_mul_q(rate, AVRational{context->ticks_per_frame > 0 ? context->ticks_per_frame : 1, 1}));
}

void FillVideo(StreamMediaInfo::Video& v, const AVCodecContext* c, const AVStream* stream) {
    v.width = c->width;
    v.height = c->height;
    v.bitRate = ClampToInt32(c->bit_rate);
    AVRational codecTb = CodecTimeBase(c, stream);
    v.codecTimeBase[0] = codecTb.num;
    v.codecTimeBase[1] = codecTb.den;
    v.streamTimeBase[0] = stream->time_base.num;
    v.streamTimeBase[1] = stream->time_base.den;
    v.ticksPerFrame = c->ticks_per_frame;
    v.pixelFormat = c->pix_fmt;
    v.profile = c->profile;
    v.level = c->level;
    v.gopSize = c->gop_size;
    v.maxBFrames = c->max_b_frames;
    v.frameRate[0] = stream->r_frame_rate.num;
    v.frameRate[1] = stream->r_frame_rate.den;
    v.extradata = CopyExtradata(c, &v.extradataSize);
    v.codecCapabilities = c->codec ? c->codec->capabilities : 0;
    AVRational sar = c->sample_aspect_ratio;
    bool sarKnown = sar.num != 0 && sar.den != 0;
    v.displayWidth = sarKnown ? ClampToInt32(int64_t(c->width) * sar.num) : c->width;
    v.displayHeight = sarKnown ? ClampToInt32(int64_t(c->height) * sar.den) : c->height;
    // 3x3 display matrix, row-major; the six entries that describe the transform.
    size_t size = 0;
    const uint8_t* side = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (side && size >= 9 * sizeof(int32_t)) {
        int32_t matrix[9];
        std::memcpy(matrix, side, sizeof(matrix));
        const int picks[6] = {0, 1, 3, 4, 6, 7};
        for (int i = 0; i < 6; ++i) v.displayMatrix[i] = matrix[picks[i]];
    }
    v.startTime = stream->start_time == AV_NOPTS_VALUE ? 0 : StreamTimeToTicks(stream->start_time, stream->time_base);
}

void FillAudio(StreamMediaInfo::Audio& a, const AVCodecContext* c, const AVStream* stream) {
    a.bitRate = ClampToInt32(c->bit_rate);
    a.sampleFormat = c->codec_id == AV_CODEC_ID_AC3 ? AV_SAMPLE_FMT_FLT : c->sample_fmt;
    a.sampleRate = c->sample_rate;
    a.channels = c->ch_layout.nb_channels;
    AVRational codecTb = CodecTimeBase(c, stream);
    a.codecTimeBase[0] = codecTb.num;
    a.codecTimeBase[1] = codecTb.den;
    a.streamTimeBase[0] = stream->time_base.num;
    a.streamTimeBase[1] = stream->time_base.den;
    a.channelLayout = c->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? c->ch_layout.u.mask : 0;
    a.blockAlign = c->block_align;
    a.ticksPerFrame = c->ticks_per_frame;
    a.extradata = CopyExtradata(c, &a.extradataSize);
    a.codecTag = static_cast<int32_t>(c->codec_tag);
    a.codecCapabilities = c->codec ? c->codec->capabilities : 0;
    a.frameSize = c->frame_size;
}

// Subtitles have no fields of their own in the record: an output copies
// them from the source.
StreamMediaInfo* DescribeSubtitle(const AVStream* stream, int streamIndex) {
    auto* info = new (std::nothrow) StreamMediaInfo{};
    if (!info) return nullptr;
    info->mediaType = MediaType::kSubtitle;
    info->streamIndex = streamIndex;
    info->codecId = FromLibraryCodecId(stream->codecpar->codec_id);
    info->source = CopySourceStream(stream);
    return info;
}

}  // namespace

StreamMediaInfo* BuildStreamMediaInfo(AVFormatContext* format, int streamIndex) {
    if (!format || streamIndex < 0 || streamIndex >= static_cast<int>(format->nb_streams)) return nullptr;
    const AVStream* stream = format->streams[streamIndex];
    AVMediaType type = stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_SUBTITLE) return DescribeSubtitle(stream, streamIndex);
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) return nullptr;

    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) return nullptr;
    context->pkt_timebase = stream->time_base;
    if (decoder) avcodec_open2(context.get(), decoder, nullptr);  // fills decoder defaults; may fail

    auto* info = new (std::nothrow) StreamMediaInfo{};
    if (!info) return nullptr;
    info->streamIndex = streamIndex;
    info->codecId = FromLibraryCodecId(stream->codecpar->codec_id);
    if (type == AVMEDIA_TYPE_VIDEO) {
        info->mediaType = MediaType::kVideo;
        FillVideo(info->video, context.get(), stream);
    } else {
        info->mediaType = MediaType::kAudio;
        FillAudio(info->audio, context.get(), stream);
    }
    info->source = CopySourceStream(stream);
    return info;
}

void FreeStreamMediaInfo(StreamMediaInfo* info) {
    if (!info) return;
    if (info->mediaType == MediaType::kVideo) delete[] info->video.extradata;
    if (info->mediaType == MediaType::kAudio) delete[] info->audio.extradata;
    delete info;
}

}  // namespace kx
