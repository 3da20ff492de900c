#include "input/DemuxTime.h"

#include <cstring>

#include "input/DemuxTypes.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

namespace kx {

namespace {
bool Usable(AVRational tb) { return tb.num > 0 && tb.den > 0; }
}  // namespace

int64_t StreamTimeToTicks(int64_t value, AVRational timeBase) {
    if (!Usable(timeBase)) return 0;
    // value * 10^7 * num / den without overflowing the product.
    return av_rescale(value, int64_t(timeBase.num) * kTicksPerSecond, timeBase.den);
}

int64_t StreamTimeToTicksOrNoPts(int64_t value, AVRational timeBase) {
    return value == AV_NOPTS_VALUE ? value : StreamTimeToTicks(value, timeBase);
}

int64_t StreamStartTicks(const AVStream* stream) {
    if (!stream || stream->start_time == AV_NOPTS_VALUE || !Usable(stream->time_base)) return 0;
    double ticks = double(stream->time_base.num) / stream->time_base.den * double(stream->start_time) * 1e7;
    if (!(ticks > -9.2e18 && ticks < 9.2e18)) return 0;  // absurd start times
    return static_cast<int64_t>(ticks);
}

int64_t CodecDelayTicks(const AVFormatContext* format, const AVStream* stream) {
    if (!format || !format->iformat || !stream || std::strncmp(format->iformat->name, "matroska", 8) != 0) return 0;
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) return 0;
    return MatroskaCodecDelayTicks(stream->codecpar, stream->time_base);
}

int64_t MatroskaCodecDelayTicks(const AVCodecParameters* parameters, AVRational timeBase) {
    if (!parameters || parameters->initial_padding <= 0) return 0;
    // Opus padding is counted at 48 kHz whatever the stream's rate.
    const int rate = parameters->codec_id == AV_CODEC_ID_OPUS ? 48000 : parameters->sample_rate;
    if (rate <= 0 || !Usable(timeBase)) return 0;
    const int64_t steps = av_rescale_q(parameters->initial_padding, AVRational{1, rate}, timeBase);
    return StreamTimeToTicks(steps, timeBase);
}

int64_t TicksToStreamTime(int64_t ticks, AVRational timeBase) {
    if (!Usable(timeBase)) return ticks;
    return av_rescale_q(ticks, AVRational{1, int(kTicksPerSecond)}, timeBase);
}

int64_t ShownTimeOf(const AVPacket* packet, const AVStream* stream) {
    if (packet->pts != AV_NOPTS_VALUE) return packet->pts;
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && stream->codecpar->video_delay > 0) return AV_NOPTS_VALUE;
    return packet->dts;
}

}  // namespace kx
