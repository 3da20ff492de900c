#include "media/X265Setup.h"

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

#include "media/EncoderContext.h"
#include "media/PictureReencoder.h"

namespace kx {

namespace {

constexpr const char* kEncoderName = "libx265";
// Transparent: the re-encoded pictures stay above 45 dB PSNR on test media.
constexpr const char* kQuality = "14";
constexpr size_t kHvcCTierByte = 1;  // general_profile_space, tier flag, profile idc
constexpr uint8_t kHighTierBit = 0x20;
constexpr int kLevelIdcPerX265Level = 3;  // general_level_idc is 30 x level, x265 takes 10 x level

struct ProfileForFormat {
    int profile;
    AVPixelFormat format;
    const char* name;
};

// What x265 makes from each pixel format; the stream's profile must be the one listed.
constexpr ProfileForFormat kProfiles[] = {
    {FF_PROFILE_HEVC_MAIN, AV_PIX_FMT_YUV420P, "main"},
    {FF_PROFILE_HEVC_MAIN_10, AV_PIX_FMT_YUV420P10LE, "main10"},
    {FF_PROFILE_HEVC_REXT, AV_PIX_FMT_YUV420P12LE, "main12"},
    {FF_PROFILE_HEVC_REXT, AV_PIX_FMT_YUV422P10LE, "main422-10"},
    {FF_PROFILE_HEVC_REXT, AV_PIX_FMT_YUV422P12LE, "main422-12"},
    {FF_PROFILE_HEVC_REXT, AV_PIX_FMT_YUV444P, "main444-8"},
    {FF_PROFILE_HEVC_REXT, AV_PIX_FMT_YUV444P10LE, "main444-10"},
    {FF_PROFILE_HEVC_REXT, AV_PIX_FMT_YUV444P12LE, "main444-12"},
};

const char* ProfileName(const AVCodecParameters* source) {
    for (const auto& entry : kProfiles)
        if (entry.profile == source->profile && entry.format == source->format) return entry.name;
    return nullptr;
}

bool HighTier(const AVCodecParameters* source) {
    const uint8_t* record = source->extradata;
    return record && source->extradata_size > static_cast<int>(kHvcCTierByte) && record[0] == 1 &&
           (record[kHvcCTierByte] & kHighTierBit) != 0;
}

// x265's units: chromaticity in 0.00002, luminance in 0.0001.
constexpr double kChromaticityUnits = 50000.0;
constexpr double kLuminanceUnits = 10000.0;

std::string Units(AVRational value, double units) { return std::to_string(std::lround(av_q2d(value) * units)); }

// master-display and max-cll as x265 takes them, from the picture's side data.
std::string HdrParams(const AVFrame* frame) {
    std::string params;
    if (!frame) return params;
    const AVFrameSideData* display = av_frame_get_side_data(frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
    if (display) {
        const auto* m = reinterpret_cast<const AVMasteringDisplayMetadata*>(display->data);
        if (m->has_primaries && m->has_luminance) {
            const auto point = [](const AVRational* xy) {
                return "(" + Units(xy[0], kChromaticityUnits) + "," + Units(xy[1], kChromaticityUnits) + ")";
            };
            // Green, blue, red, as the SEI message orders them.
            params += ":master-display=G" + point(m->display_primaries[1]) + "B" + point(m->display_primaries[2]) +
                      "R" + point(m->display_primaries[0]) + "WP" + point(m->white_point) + "L(" +
                      Units(m->max_luminance, kLuminanceUnits) + "," + Units(m->min_luminance, kLuminanceUnits) + ")";
        }
    }
    const AVFrameSideData* light = av_frame_get_side_data(frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
    if (light) {
        const auto* l = reinterpret_cast<const AVContentLightMetadata*>(light->data);
        params += ":max-cll=" + std::to_string(l->MaxCLL) + "," + std::to_string(l->MaxFALL);
    }
    return params;
}

std::string X265Params(const AVCodecParameters* source) {
    // One group: an IDR first and no other key frame, no B-frames; without
    // the tree of references a short group keeps a long one's quality.
    std::string params = "log-level=error:keyint=-1:min-keyint=1:scenecut=0:open-gop=0:bframes=0:cutree=0:info=0";
    if (source->level > 0) {
        params += ":level-idc=" + std::to_string(source->level / kLevelIdcPerX265Level);
        params += HighTier(source) ? ":high-tier=1" : ":high-tier=0";
    }
    // x265 writes the chroma location only when asked; left is what its absence means.
    if (source->chroma_location > AVCHROMA_LOC_LEFT && source->chroma_location < AVCHROMA_LOC_NB)
        params += ":chromaloc=" + std::to_string(static_cast<int>(source->chroma_location) - 1);
    return params;
}

}  // namespace

std::optional<std::string> WhyNotX265(const AVCodecParameters* source) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(kEncoderName);
    if (!encoder) return "the HEVC encoder (libx265) is not available";
    if (!ProfileName(source)) {
        const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(source->format));
        return "the encoder cannot make the stream's profile (" + std::to_string(source->profile) + ") from " +
               (format ? format : "?");
    }
    return std::nullopt;
}

AVCodecContext* OpenX265(const EncoderSettings& settings, std::string* problem, const AVFrame* first) {
    const AVCodecParameters* source = settings.source;
    AVCodecContext* encoder = EncoderLikeSource(settings, kEncoderName, "HEVC", problem);
    if (!encoder) return nullptr;
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "profile", ProfileName(source), 0);
    av_dict_set(&options, "crf", kQuality, 0);
    av_dict_set(&options, "x265-params", (X265Params(source) + HdrParams(first)).c_str(), 0);
    const int error = avcodec_open2(encoder, encoder->codec, &options);
    av_dict_free(&options);
    if (error < 0) {
        *problem = "cannot open the HEVC encoder: " + LibraryText(error);
        avcodec_free_context(&encoder);
    }
    return encoder;
}

}  // namespace kx
