#include "input/PcmConversion.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

namespace kx {

namespace {

template <typename T>
T Load(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);  // planes need not be aligned for T
    return value;
}

// av_clip_int16(lrint(scaled)) exactly as the resampler's plain code computes
// it on x86-64, without calling lrint where its result is unspecified:
// lrint gives the nearest long (ties to even) or, for NaN, the infinities
// and values beyond the long range, LONG_MIN; av_clip_int16 takes an int,
// so the long is cut to its low 32 bits before the clip. Decoders stay far
// inside +-65536, where this is the plain round-and-clip.
template <typename Real>
int16_t RoundScaled(Real scaled) {
    constexpr Real kLongLimit = Real(9223372036854775808.0);  // 2^63, exact in float and double
    int64_t rounded = INT64_MIN;
    if (scaled >= -kLongLimit && scaled < kLongLimit) {
        if constexpr (sizeof(Real) == sizeof(float))
            rounded = std::llrintf(scaled);
        else
            rounded = std::llrint(scaled);
    }
    const auto narrowed = static_cast<int32_t>(static_cast<uint32_t>(rounded));
    return static_cast<int16_t>(std::clamp<int32_t>(narrowed, INT16_MIN, INT16_MAX));
}

// One sample of a packed format (the planar formats use their packed twin).
template <AVSampleFormat Format>
int16_t ToS16(const uint8_t* at) {
    if constexpr (Format == AV_SAMPLE_FMT_U8) return static_cast<int16_t>((int(at[0]) - 0x80) * 256);
    if constexpr (Format == AV_SAMPLE_FMT_S16) return Load<int16_t>(at);
    if constexpr (Format == AV_SAMPLE_FMT_S32) return static_cast<int16_t>(Load<int32_t>(at) >> 16);
    if constexpr (Format == AV_SAMPLE_FMT_S64) return static_cast<int16_t>(Load<int64_t>(at) >> 48);
    if constexpr (Format == AV_SAMPLE_FMT_FLT) return RoundScaled(Load<float>(at) * 32768.0f);
    if constexpr (Format == AV_SAMPLE_FMT_DBL) return RoundScaled(Load<double>(at) * 32768.0);
}

void StoreLittleEndian(uint8_t* at, int16_t sample) {
    auto bits = static_cast<uint16_t>(sample);
    at[0] = static_cast<uint8_t>(bits & 0xFF);
    at[1] = static_cast<uint8_t>(bits >> 8);
}

// Channel c of sample s: in plane c at s for planar data, in plane 0 at
// s * channels + c for packed data.
template <AVSampleFormat Format>
void Interleave(const AVFrame* frame, bool planar, int channels, int64_t samples, uint8_t* out) {
    constexpr int bytes = Format == AV_SAMPLE_FMT_U8    ? 1
                          : Format == AV_SAMPLE_FMT_S16 ? 2
                          : Format == AV_SAMPLE_FMT_S32 || Format == AV_SAMPLE_FMT_FLT ? 4
                                                                                         : 8;
    for (int c = 0; c < channels; ++c) {
        const uint8_t* from = planar ? frame->extended_data[c] : frame->extended_data[0] + int64_t(c) * bytes;
        const int64_t step = planar ? bytes : int64_t(bytes) * channels;
        uint8_t* to = out + int64_t(c) * 2;
        const int64_t stride = int64_t(channels) * 2;
        for (int64_t s = 0; s < samples; ++s, from += step, to += stride) StoreLittleEndian(to, ToS16<Format>(from));
    }
}

// Bytes from plane up to the end of the frame's buffer that holds it; -1
// when no buffer of the frame is known to hold it.
int64_t BytesToBufferEnd(const AVFrame* frame, const uint8_t* plane) {
    auto within = [plane](const AVBufferRef* buf) {
        return buf && buf->data && plane >= buf->data && plane < buf->data + buf->size;
    };
    for (const AVBufferRef* buf : frame->buf)
        if (within(buf)) return buf->data + buf->size - plane;
    for (int i = 0; i < frame->nb_extended_buf; ++i)
        if (frame->extended_buf && within(frame->extended_buf[i]))
            return frame->extended_buf[i]->data + frame->extended_buf[i]->size - plane;
    return -1;
}

}  // namespace

int64_t ConvertibleSamples(const AVFrame* frame) {
    if (!frame || !frame->extended_data) return -1;
    auto format = static_cast<AVSampleFormat>(frame->format);
    if (format <= AV_SAMPLE_FMT_NONE || format >= AV_SAMPLE_FMT_NB) return -1;
    const int channels = frame->ch_layout.nb_channels;
    const int bytes = av_get_bytes_per_sample(format);
    if (channels <= 0 || bytes <= 0) return -1;
    if (frame->nb_samples <= 0) return 0;

    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int64_t frameBytes = planar ? bytes : int64_t(bytes) * channels;  // per sample, per plane
    int64_t samples = frame->nb_samples;
    // Audio planes are all linesize[0] bytes long; a plane inside a buffer of
    // the frame ends with that buffer at the latest.
    if (frame->linesize[0] > 0) samples = std::min(samples, frame->linesize[0] / frameBytes);
    for (int p = 0; p < (planar ? channels : 1); ++p) {
        const uint8_t* plane = frame->extended_data[p];
        if (!plane) return -1;
        int64_t room = BytesToBufferEnd(frame, plane);
        if (room >= 0) samples = std::min(samples, room / frameBytes);
    }
    return samples;
}

int64_t InterleavedS16Bytes(const AVFrame* frame) {
    int64_t samples = ConvertibleSamples(frame);
    return samples < 0 ? -1 : samples * frame->ch_layout.nb_channels * 2;
}

int64_t ConvertToInterleavedS16(const AVFrame* frame, uint8_t* out, int64_t capacity) {
    const int64_t samples = ConvertibleSamples(frame);
    if (samples < 0) return -1;
    const int channels = frame->ch_layout.nb_channels;
    const int64_t size = samples * channels * 2;
    if (size > capacity || (size > 0 && !out)) return -1;
    if (size == 0) return 0;

    auto format = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8: Interleave<AV_SAMPLE_FMT_U8>(frame, planar, channels, samples, out); break;
        case AV_SAMPLE_FMT_S16: Interleave<AV_SAMPLE_FMT_S16>(frame, planar, channels, samples, out); break;
        case AV_SAMPLE_FMT_S32: Interleave<AV_SAMPLE_FMT_S32>(frame, planar, channels, samples, out); break;
        case AV_SAMPLE_FMT_S64: Interleave<AV_SAMPLE_FMT_S64>(frame, planar, channels, samples, out); break;
        case AV_SAMPLE_FMT_FLT: Interleave<AV_SAMPLE_FMT_FLT>(frame, planar, channels, samples, out); break;
        case AV_SAMPLE_FMT_DBL: Interleave<AV_SAMPLE_FMT_DBL>(frame, planar, channels, samples, out); break;
        default: return -1;
    }
    return size;
}

}  // namespace kx
