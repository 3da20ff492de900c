#include "media/PictureReencoder.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "output/H264BitstreamForms.h"

namespace kx {

namespace {

constexpr AVRational kTicks{1, 10'000'000};
constexpr int64_t kToleranceTicks = 10'000;  // 1 ms: times converted between time bases
constexpr const char* kEncoderName = "libx264";
// Transparent: the re-encoded pictures stay above 45 dB PSNR on test media.
constexpr const char* kQuality = "14";
constexpr int kLengthPrefixSize = 4;  // what the mux layer reads as length prefixes

// x264's profile names for the source's profiles; null for those it cannot make.
const char* X264ProfileName(int profile) {
    switch (profile) {
    case FF_PROFILE_H264_BASELINE:
    case FF_PROFILE_H264_CONSTRAINED_BASELINE:
        return "baseline";
    case FF_PROFILE_H264_MAIN:
        return "main";
    case FF_PROFILE_H264_HIGH:
        return "high";
    case FF_PROFILE_H264_HIGH_10:
        return "high10";
    case FF_PROFILE_H264_HIGH_422:
        return "high422";
    case FF_PROFILE_H264_HIGH_444_PREDICTIVE:
        return "high444";
    default:
        return nullptr;
    }
}

bool Interlaced(AVFieldOrder order) { return order != AV_FIELD_PROGRESSIVE && order != AV_FIELD_UNKNOWN; }

std::string LibraryText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

bool EncoderTakes(const AVCodec* encoder, int format) {
    if (!encoder->pix_fmts) return true;
    for (const AVPixelFormat* f = encoder->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == format) return true;
    return false;
}

}  // namespace

void PacketFree::operator()(AVPacket* packet) const { av_packet_free(&packet); }

std::optional<std::string> WhyNotReencodable(const AVCodecParameters* source) {
    if (!source) return "the video stream has no description";
    if (source->codec_id != AV_CODEC_ID_H264)
        return std::string("only H.264 pictures are encoded again, this stream is ") + avcodec_get_name(source->codec_id);
    if (Interlaced(source->field_order)) return "the pictures are interlaced";
    if (!X264ProfileName(source->profile))
        return "the encoder cannot make the stream's profile (" + std::to_string(source->profile) + ")";
    const AVCodec* encoder = avcodec_find_encoder_by_name(kEncoderName);
    if (!encoder) return "the H.264 encoder (libx264) is not available";
    if (source->format >= 0 && !EncoderTakes(encoder, source->format)) {
        const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(source->format));
        return std::string("the encoder does not take the pixel format ") + (name ? name : "?");
    }
    const H264PacketForm form = H264FormOfStream(source);
    if (form.framing == H264Framing::LengthPrefixed && form.lengthSize != kLengthPrefixSize)
        return "the stream's NAL units have " + std::to_string(form.lengthSize) + "-byte length prefixes";
    return std::nullopt;
}

std::unique_ptr<PictureReencoder> PictureReencoder::Open(const AVCodecParameters* source, int parameterSetId,
                                                         const Window& window, std::string* problem) {
    if (auto why = WhyNotReencodable(source)) {
        *problem = *why;
        return nullptr;
    }
    std::unique_ptr<PictureReencoder> self(new PictureReencoder);
    self->source_ = source;
    self->form_ = H264FormOfStream(source);
    self->parameterSetId_ = parameterSetId;
    self->window_ = window;
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
    self->decoder_ = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    self->frame_ = av_frame_alloc();
    self->encoded_ = av_packet_alloc();
    if (!self->decoder_ || !self->frame_ || !self->encoded_) {
        *problem = "out of memory for the decoder";
        return nullptr;
    }
    int error = avcodec_parameters_to_context(self->decoder_, source);
    if (error >= 0) {
        self->decoder_->pkt_timebase = kTicks;
        self->decoder_->thread_count = 1;
        error = avcodec_open2(self->decoder_, decoder, nullptr);
    }
    if (error < 0) {
        *problem = "cannot open the H.264 decoder: " + LibraryText(error);
        return nullptr;
    }
    return self;
}

PictureReencoder::~PictureReencoder() {
    avcodec_free_context(&decoder_);
    avcodec_free_context(&encoder_);
    av_frame_free(&frame_);
    av_packet_free(&encoded_);
}

bool PictureReencoder::Fail(const std::string& what, int averror) {
    if (problem_.empty()) problem_ = averror < 0 ? what + ": " + LibraryText(averror) : what;
    return false;
}

bool PictureReencoder::Feed(const AVPacket* packet) {
    if (!problem_.empty()) return false;
    if (packet->pts != AV_NOPTS_VALUE) durations_[packet->pts] = packet->duration;
    const int error = avcodec_send_packet(decoder_, packet);
    // A damaged packet, or one that refers to pictures before the decoding
    // began (the leading pictures of an open group), is left out.
    if (error < 0 && error != AVERROR_INVALIDDATA) return Fail("the decoder refused a packet", error);
    return DrainDecoder();
}

bool PictureReencoder::Finish() {
    if (!problem_.empty()) return false;
    avcodec_send_packet(decoder_, nullptr);
    if (!DrainDecoder()) return false;
    if (!encoder_) return true;
    const int error = avcodec_send_frame(encoder_, nullptr);
    if (error < 0 && error != AVERROR_EOF) return Fail("the encoder refused the end", error);
    return DrainEncoder();
}

bool PictureReencoder::DrainDecoder() {
    for (;;) {
        const int error = avcodec_receive_frame(decoder_, frame_);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return true;
        if (error < 0) return Fail("the decoder failed", error);
        const bool ok = EncodeFrame(frame_);
        av_frame_unref(frame_);
        if (!ok) return false;
    }
}

bool PictureReencoder::EncodeFrame(AVFrame* frame) {
    const int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE || pts < window_.from - kToleranceTicks || pts >= window_.to - kToleranceTicks)
        return true;
    if (frame->interlaced_frame) return Fail("the pictures are interlaced", 0);
    if (!encoder_ && !OpenEncoder(frame)) return false;
    if (!firstPicture_) firstPicture_ = pts;
    frame->pts = pts;
    // The encoder chooses every picture's type itself: the source's would
    // force B- and I-pictures into the group.
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    const int error = avcodec_send_frame(encoder_, frame);
    if (error < 0) return Fail("the encoder refused a picture", error);
    ++encodedPictures_;
    return DrainEncoder();
}

bool PictureReencoder::OpenEncoder(const AVFrame* frame) {
    const AVCodec* codec = avcodec_find_encoder_by_name(kEncoderName);
    encoder_ = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!encoder_) return Fail("the H.264 encoder (libx264) is not available", 0);
    encoder_->width = frame->width;
    encoder_->height = frame->height;
    encoder_->pix_fmt = static_cast<AVPixelFormat>(frame->format);
    encoder_->time_base = kTicks;
    encoder_->framerate = decoder_->framerate.num > 0 ? decoder_->framerate : AVRational{25, 1};
    encoder_->sample_aspect_ratio =
        frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : source_->sample_aspect_ratio;
    encoder_->color_primaries = source_->color_primaries;
    encoder_->color_trc = source_->color_trc;
    encoder_->colorspace = source_->color_space;
    encoder_->color_range = frame->color_range != AVCOL_RANGE_UNSPECIFIED ? frame->color_range : source_->color_range;
    encoder_->chroma_sample_location = source_->chroma_location;
    encoder_->max_b_frames = 0;
    if (source_->level > 0) encoder_->level = source_->level;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "profile", X264ProfileName(source_->profile), 0);
    av_dict_set(&options, "crf", kQuality, 0);
    // One group: an IDR first, no other key frame; the source's ids stay free.
    // Without the macroblock tree a group of a few pictures keeps the quality
    // a long one has: the tree lowers it where no later picture refers back.
    const std::string params = "keyint=infinite:scenecut=0:mbtree=0:sps-id=" + std::to_string(parameterSetId_);
    av_dict_set(&options, "x264-params", params.c_str(), 0);
    const int error = avcodec_open2(encoder_, codec, &options);
    av_dict_free(&options);
    if (error < 0) return Fail("cannot open the H.264 encoder", error);
    return true;
}

bool PictureReencoder::DrainEncoder() {
    for (;;) {
        const int error = avcodec_receive_packet(encoder_, encoded_);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return true;
        if (error < 0) return Fail("the encoder failed", error);
        OwnedPacket packet(av_packet_alloc());
        if (!packet) return Fail("out of memory for an encoded picture", 0);
        if (form_.framing == H264Framing::LengthPrefixed) {
            const std::vector<uint8_t> prefixed =
                StartCodesToLengthPrefixes(encoded_->data, static_cast<size_t>(encoded_->size));
            if (prefixed.empty() || av_new_packet(packet.get(), static_cast<int>(prefixed.size())) < 0)
                return Fail("cannot convert an encoded picture", 0);
            std::copy(prefixed.begin(), prefixed.end(), packet->data);
            packet->flags = encoded_->flags;
            packet->pts = encoded_->pts;
        } else {
            av_packet_move_ref(packet.get(), encoded_);
        }
        av_packet_unref(encoded_);
        packet->dts = packet->pts - window_.decodeDelay;
        const auto duration = durations_.find(packet->pts);
        packet->duration = duration != durations_.end() ? duration->second : 0;
        out_.push_back(std::move(packet));
    }
}

std::vector<OwnedPacket> PictureReencoder::TakeEncoded() {
    std::vector<OwnedPacket> taken;
    taken.swap(out_);
    return taken;
}

}  // namespace kx
