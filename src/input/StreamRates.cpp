#include "input/StreamRates.h"

#include <cmath>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace kx {

namespace {

constexpr double kBitsPerByte = 8.0;
// Mean and base rate further apart than this make a variable rate; timing
// jitter of a constant-rate stream stays far below it.
constexpr double kVariableRateTolerance = 0.10;
constexpr int64_t kMinFramesForMean = 2;
constexpr int64_t kDefaultBitsPerSample = 16;  // as the description assumes when the codec gives none

bool Usable(AVRational r) { return r.num > 0 && r.den > 0; }

uint32_t ClampToUint32(double value) {
    if (!(value > 0)) return 0;
    constexpr double kMax = std::numeric_limits<uint32_t>::max();
    return value >= kMax ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(std::llround(value));
}

// Codecs whose bits per sample are fixed: their nominal rate is their rate.
bool HasExactSampleSize(const AVCodecParameters* parameters) {
    return av_get_exact_bits_per_sample(parameters->codec_id) > 0;
}

}  // namespace

bool NeedsMeasuredBitRate(const AVCodecParameters* parameters) {
    if (!parameters) return false;
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) return parameters->bit_rate <= 0;
    if (parameters->codec_type != AVMEDIA_TYPE_AUDIO || HasExactSampleSize(parameters)) return false;
    if (parameters->bit_rate <= 0) return true;
    const int64_t bits = parameters->bits_per_coded_sample > 0 ? parameters->bits_per_coded_sample : kDefaultBitsPerSample;
    const int64_t uncompressed = int64_t(parameters->ch_layout.nb_channels) * bits * parameters->sample_rate;
    return parameters->bit_rate == uncompressed;
}

uint32_t MeasuredBitRate(const StreamTally& tally, double seconds) {
    if (!tally.counted || !(seconds > 0)) return 0;
    return ClampToUint32(static_cast<double>(tally.bytes) * kBitsPerByte / seconds);
}

uint32_t FileBitRate(int64_t bytes, double seconds) {
    if (bytes <= 0 || !(seconds > 0)) return 0;
    return ClampToUint32(static_cast<double>(bytes) * kBitsPerByte / seconds);
}

FrameRateKind FrameRateKindOf(const AVStream* stream, const StreamTally* tally) {
    if (!stream || !Usable(stream->r_frame_rate)) return FrameRateKind::Constant;
    double mean = 0;
    if (tally && tally->counted && tally->packets >= kMinFramesForMean && tally->intervalSeconds > 0)
        mean = static_cast<double>(tally->packets - 1) / tally->intervalSeconds;
    else if (Usable(stream->avg_frame_rate))
        mean = av_q2d(stream->avg_frame_rate);
    if (!(mean > 0)) return FrameRateKind::Constant;
    const double base = av_q2d(stream->r_frame_rate);
    return std::fabs(mean - base) > kVariableRateTolerance * base ? FrameRateKind::Variable : FrameRateKind::Constant;
}

}  // namespace kx
