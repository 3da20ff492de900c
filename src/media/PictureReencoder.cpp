#include "media/PictureReencoder.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "input/VideoKeyFrame.h"
#include "media/EncoderContext.h"
#include "media/UnreferencedPicture.h"
#include "media/X265Setup.h"
#include "output/H264BitstreamForms.h"
#include "output/HevcParameterSetIds.h"

namespace kx {

namespace {

constexpr int64_t kToleranceTicks = 10'000;  // 1 ms: times converted between time bases
constexpr const char* kEncoderName = "libx264";
// Transparent: the re-encoded pictures stay above 45 dB PSNR on test media.
constexpr const char* kQuality = "14";
constexpr int kLengthPrefixSize = 4;  // what the mux layer reads as length prefixes
constexpr uint8_t kEndOfSequence[] = {0x48, 0x01};  // HEVC EOS_NUT, layer 0, temporal id 0

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

bool EncoderTakes(const AVCodec* encoder, int format) {
    if (!encoder->pix_fmts) return true;
    for (const AVPixelFormat* f = encoder->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == format) return true;
    return false;
}

// An open libx264 encoder for the settings; global headers: the parameter
// sets go to its extradata instead of the first picture.
AVCodecContext* OpenX264(const EncoderSettings& settings, bool globalHeader, std::string* problem) {
    const AVCodecParameters* source = settings.source;
    AVCodecContext* encoder = EncoderLikeSource(settings, kEncoderName, "H.264", problem);
    if (!encoder) return nullptr;
    encoder->chroma_sample_location = source->chroma_location;
    if (source->level > 0) encoder->level = source->level;
    if (globalHeader) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "profile", X264ProfileName(source->profile), 0);
    av_dict_set(&options, "crf", kQuality, 0);
    // One group: an IDR first, no other key frame; the source's ids stay free.
    // Without the macroblock tree a group of a few pictures keeps the quality
    // a long one has: the tree lowers it where no later picture refers back.
    const std::string params = "keyint=infinite:scenecut=0:mbtree=0:sps-id=" + std::to_string(settings.parameterSetId);
    av_dict_set(&options, "x264-params", params.c_str(), 0);
    const int error = avcodec_open2(encoder, encoder->codec, &options);
    av_dict_free(&options);
    if (error < 0) {
        *problem = "cannot open the H.264 encoder: " + LibraryText(error);
        avcodec_free_context(&encoder);
    }
    return encoder;
}

}  // namespace

std::vector<uint8_t> EncoderParameterSets(const EncoderSettings& settings, std::string* problem) {
    std::vector<uint8_t> sets;
    if (auto why = WhyNotReencodable(settings.source)) {
        *problem = *why;
        return sets;
    }
    const bool hevc = settings.source->codec_id == AV_CODEC_ID_HEVC;
    AVCodecContext* encoder = hevc ? OpenX265(settings, problem) : OpenX264(settings, true, problem);
    if (!encoder) return sets;
    if (encoder->extradata && encoder->extradata_size > 0)
        sets.assign(encoder->extradata, encoder->extradata + encoder->extradata_size);
    avcodec_free_context(&encoder);
    if (hevc) sets = RenumberHevcAnnexB(sets.data(), sets.size(), settings.hevcIds);
    if (sets.empty()) *problem = "the encoder gave no parameter sets";
    return sets;
}

std::optional<std::string> WhyNotReencodable(const AVCodecParameters* source) {
    if (!source) return "the video stream has no description";
    const bool hevc = source->codec_id == AV_CODEC_ID_HEVC;
    if (source->codec_id != AV_CODEC_ID_H264 && !hevc)
        return std::string("only H.264 and HEVC pictures are encoded again, this stream is ") +
               avcodec_get_name(source->codec_id);
    if (Interlaced(source->field_order)) return "the pictures are interlaced";
    if (source->format < 0 || source->width <= 0 || source->height <= 0)
        return "the stream's description gives no picture size or pixel format";
    if (hevc) {
        if (auto why = WhyNotX265(source)) return why;
    } else {
        if (!X264ProfileName(source->profile))
            return "the encoder cannot make the stream's profile (" + std::to_string(source->profile) + ")";
        const AVCodec* encoder = avcodec_find_encoder_by_name(kEncoderName);
        if (!encoder) return "the H.264 encoder (libx264) is not available";
        if (!EncoderTakes(encoder, source->format)) {
            const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(source->format));
            return std::string("the encoder does not take the pixel format ") + (name ? name : "?");
        }
    }
    const H264PacketForm form = BitstreamFormOfStream(source).nalUnits;
    if (form.framing == H264Framing::LengthPrefixed && form.lengthSize != kLengthPrefixSize)
        return "the stream's NAL units have " + std::to_string(form.lengthSize) + "-byte length prefixes";
    return std::nullopt;
}

std::unique_ptr<PictureReencoder> PictureReencoder::Open(const EncoderSettings& settings, const Window& window,
                                                         std::string* problem) {
    const AVCodecParameters* source = settings.source;
    if (auto why = WhyNotReencodable(source)) {
        *problem = *why;
        return nullptr;
    }
    std::unique_ptr<PictureReencoder> self(new PictureReencoder);
    self->settings_ = settings;
    self->form_ = BitstreamFormOfStream(source).nalUnits;
    self->window_ = window;
    if (self->IsHevc())
        self->hevcHighestTemporalId_ =
            HevcHighestTemporalId(source->extradata, static_cast<size_t>(std::max(0, source->extradata_size)));
    const AVCodec* decoder = avcodec_find_decoder(source->codec_id);
    self->decoder_ = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    self->frame_ = av_frame_alloc();
    self->encoded_ = av_packet_alloc();
    if (!self->decoder_ || !self->frame_ || !self->encoded_) {
        *problem = "out of memory for the decoder";
        return nullptr;
    }
    int error = avcodec_parameters_to_context(self->decoder_, source);
    if (error >= 0) {
        self->decoder_->pkt_timebase = kEncoderTimeBase;
        self->decoder_->thread_count = 1;
        error = avcodec_open2(self->decoder_, decoder, nullptr);
    }
    if (error < 0) {
        *problem =
            std::string("cannot open the ") + avcodec_get_name(source->codec_id) + " decoder: " + LibraryText(error);
        return nullptr;
    }
    return self;
}

PictureReencoder::~PictureReencoder() {
    avcodec_free_context(&decoder_);
    avcodec_free_context(&encoder_);
    av_frame_free(&frame_);
    av_frame_free(&keyFrame_);
    av_packet_free(&encoded_);
}

bool PictureReencoder::Fail(const std::string& what, int averror) {
    if (problem_.empty()) problem_ = averror < 0 ? what + ": " + LibraryText(averror) : what;
    return false;
}

bool PictureReencoder::Feed(const AVPacket* packet) {
    if (!problem_.empty()) return false;
    // Decoding only costs time for pictures that are neither shown nor referred to.
    if (Unneeded(packet)) return true;
    if (packet->pts != AV_NOPTS_VALUE) durations_[packet->pts] = packet->duration;
    const int error = avcodec_send_packet(decoder_, packet);
    // A damaged packet, or one that refers to pictures before the decoding
    // began (the leading pictures of an open group), is left out.
    if (error < 0 && error != AVERROR_INVALIDDATA) return Fail("the decoder refused a packet", error);
    return DrainDecoder();
}

bool PictureReencoder::Unneeded(const AVPacket* packet) const {
    const int64_t pts = packet->pts;
    if (pts == AV_NOPTS_VALUE || (pts >= window_.from - kToleranceTicks && pts < window_.to - kToleranceTicks))
        return false;
    if (!IsHevc()) return IsUnreferencedH264Picture(packet->data, packet->size, form_);
    return hevcHighestTemporalId_ &&
           IsUnreferencedHevcPicture(packet->data, packet->size, form_, *hevcHighestTemporalId_);
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
    // HDR metadata comes with the key frame decoding starts at, which is seldom encoded.
    if (!encoder_ && !keyFrame_ && av_frame_get_side_data(frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA))
        keyFrame_ = av_frame_clone(frame);
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
    // The encoder is set up from the source's description, as its parameter
    // sets were when the outputs were made.
    const AVCodecParameters* source = settings_.source;
    if (frame->width != source->width || frame->height != source->height || frame->format != source->format)
        return Fail("the pictures' size or format differs from the stream's description", 0);
    std::string problem;
    encoder_ =
        IsHevc() ? OpenX265(settings_, &problem, keyFrame_ ? keyFrame_ : frame) : OpenX264(settings_, false, &problem);
    av_frame_free(&keyFrame_);
    if (!encoder_) return Fail(problem, 0);
    if (IsHevc()) {
        const std::vector<uint8_t> sets =
            encoder_->extradata
                ? RenumberHevcAnnexB(encoder_->extradata, static_cast<size_t>(std::max(0, encoder_->extradata_size)),
                                     settings_.hevcIds)
                : std::vector<uint8_t>{};
        if (sets.empty()) return Fail("the encoder's parameter sets cannot be renumbered", 0);
        if (sets != settings_.describedSets) inBandSets_ = sets;
    }
    return true;
}

bool PictureReencoder::IsHevc() const { return settings_.source->codec_id == AV_CODEC_ID_HEVC; }

std::vector<uint8_t> PictureReencoder::InSourceForm(const uint8_t* data, size_t size) {
    std::vector<uint8_t> annexB;
    if (IsHevc()) {
        annexB = std::move(inBandSets_);
        inBandSets_.clear();
        const std::vector<uint8_t> renumbered = RenumberHevcAnnexB(data, size, settings_.hevcIds);
        if (renumbered.empty()) return {};
        annexB.insert(annexB.end(), renumbered.begin(), renumbered.end());
    } else {
        annexB.assign(data, data + size);
    }
    if (form_.framing == H264Framing::LengthPrefixed) return StartCodesToLengthPrefixes(annexB.data(), annexB.size());
    return annexB;
}

bool PictureReencoder::EndCodedSequence() {
    if (!IsHevc() || out_.empty()) return true;
    AVPacket* last = out_.back().get();
    std::vector<uint8_t> unit;
    if (form_.framing == H264Framing::LengthPrefixed) {
        unit = {0, 0, 0, sizeof kEndOfSequence};
    } else {
        unit = {0, 0, 0, 1};
    }
    unit.insert(unit.end(), std::begin(kEndOfSequence), std::end(kEndOfSequence));
    const int oldSize = last->size;
    if (av_grow_packet(last, static_cast<int>(unit.size())) < 0) return Fail("out of memory for an encoded picture", 0);
    std::copy(unit.begin(), unit.end(), last->data + oldSize);
    return true;
}

bool PictureReencoder::DrainEncoder() {
    for (;;) {
        const int error = avcodec_receive_packet(encoder_, encoded_);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return true;
        if (error < 0) return Fail("the encoder failed", error);
        OwnedPacket packet(av_packet_alloc());
        if (!packet) return Fail("out of memory for an encoded picture", 0);
        if (form_.framing == H264Framing::LengthPrefixed || IsHevc()) {
            const std::vector<uint8_t> converted = InSourceForm(encoded_->data, static_cast<size_t>(encoded_->size));
            if (converted.empty() || av_new_packet(packet.get(), static_cast<int>(converted.size())) < 0)
                return Fail("cannot convert an encoded picture", 0);
            std::copy(converted.begin(), converted.end(), packet->data);
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
