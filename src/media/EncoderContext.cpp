#include "media/EncoderContext.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
}

namespace kx {

AVCodecContext* EncoderLikeSource(const EncoderSettings& settings, const char* encoderName, const char* codecName,
                                  std::string* problem) {
    const AVCodecParameters* source = settings.source;
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    AVCodecContext* encoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!encoder) {
        *problem = std::string("the ") + codecName + " encoder (" + encoderName + ") is not available";
        return nullptr;
    }
    encoder->width = source->width;
    encoder->height = source->height;
    encoder->pix_fmt = static_cast<AVPixelFormat>(source->format);
    encoder->time_base = kEncoderTimeBase;
    encoder->framerate = AVRational{settings.frameRateNum, settings.frameRateDen};
    encoder->sample_aspect_ratio = source->sample_aspect_ratio;
    encoder->color_primaries = source->color_primaries;
    encoder->color_trc = source->color_trc;
    encoder->colorspace = source->color_space;
    encoder->color_range = source->color_range;
    encoder->max_b_frames = 0;
    return encoder;
}

std::string LibraryText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

}  // namespace kx
