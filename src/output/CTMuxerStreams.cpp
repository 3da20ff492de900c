// CTMuxer: output streams set up from the input's stream descriptions. The
// container writer reads a stream's parameters from AVStream.codecpar, so the
// description goes there; no encoder is opened for a stream that is copied.
#include <algorithm>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
}

#include "input/MovTextHeader.h"
#include "input/SourceStream.h"
#include "media/MediaKernel.h"
#include "output/AnnexBFilter.h"
#include "output/CTMuxer.h"
#include "output/FlacFrames.h"
#include "output/HevcRecord.h"

namespace {

constexpr int32_t kCodecH264 = 28;
constexpr int32_t kCodecAc3 = 0x15003;
constexpr int32_t kCodecDts = 0x15004;

bool IsValidRational(const int32_t value[2]) { return value[0] > 0 && value[1] > 0; }

// Replaces the parameters' extradata by a padded copy of `size` bytes.
bool SetExtradata(AVCodecParameters* parameters, const uint8_t* data, size_t size) {
    av_freep(&parameters->extradata);
    parameters->extradata_size = 0;
    if (!data || size == 0) return true;
    auto* copy = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!copy) return false;
    std::memcpy(copy, data, size);
    parameters->extradata = copy;
    parameters->extradata_size = static_cast<int>(size);
    return true;
}

// "codec not found" tells that the library knows no encoder for the codec;
// copying does not need one, so the stream is set up all the same.
void ReportMissingEncoder(AVCodecID codecId) {
    if (!avcodec_find_encoder(codecId)) std::fprintf(stderr, "codec not found\n");
}

// The six stored entries of the 3x3 display matrix, completed with the
// identity's projective column, as the stream's display-matrix side data.
void AttachDisplayMatrix(AVStream* stream, const int32_t (&entries)[6]) {
    bool any = false;
    for (int32_t value : entries) any = any || value != 0;
    if (!any) return;  // no matrix in the source
    auto* matrix = reinterpret_cast<int32_t*>(
        av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
    if (!matrix) return;
    const int32_t full[9] = {entries[0], entries[1], 0, entries[2], entries[3], 0, entries[4], entries[5], 1 << 30};
    std::memcpy(matrix, full, sizeof(full));
}

}  // namespace

std::unique_ptr<CTMuxer::OwnedStreamInfo> CTMuxer::CopyStreamInfo(const kx::StreamMediaInfo& info) {
    auto copy = std::make_unique<OwnedStreamInfo>();
    copy->info = info;
    const bool video = info.mediaType == kx::MediaType::kVideo;
    const uint8_t* data = video ? info.video.extradata : info.audio.extradata;
    const int32_t size = video ? info.video.extradataSize : info.audio.extradataSize;
    if (data && size > 0) copy->extradata.assign(data, data + size);
    uint8_t* own = copy->extradata.empty() ? nullptr : copy->extradata.data();
    const auto ownSize = static_cast<int32_t>(copy->extradata.size());
    if (video) {
        copy->info.video.extradata = own;
        copy->info.video.extradataSize = ownSize;
    } else {
        copy->info.audio.extradata = own;
        copy->info.audio.extradataSize = ownSize;
    }
    return copy;
}

int32_t CTMuxer::AddStream(int32_t key, const kx::StreamMediaInfo* info) {
    if (!info || !context_ || headerWritten_) return -1;
    // Each stream's codec, not only the first video and audio, must be one the
    // container takes as it is.
    const kx::ContainerVerdict verdict = kx::CheckStreamInContainer(fileName_.c_str(), *info);
    if (!verdict.accepted()) {
        verdict_ = verdict;
        return -1;
    }
    AVStream* stream = nullptr;
    if (info->mediaType == kx::MediaType::kVideo) {
        stream = AddVideoStream(key, *info);
        if (!stream) return -1;
        OpenVideoStreamCodec(stream, *info);
    } else if (info->mediaType == kx::MediaType::kAudio) {
        stream = AddAudioStream(key, *info);
        if (!stream) return -1;
        OpenAudioStreamCodec(stream, *info);
    } else if (info->mediaType == kx::MediaType::kSubtitle && info->source) {
        stream = AddSubtitleStream(key, *info->source);
        if (!stream) return -1;
    } else {
        return -1;
    }
    if (info->source) CopySourceTraits(stream, *info->source);

    // Containers that want start codes get the library's converter, fed with
    // the stream as the input stores it.
    std::unique_ptr<kx::AnnexBFilter> filter;
    if (info->mediaType == kx::MediaType::kVideo && info->codecId == kCodecH264 &&
        (ExtensionIs(".MTS") || ExtensionIs(".M2TS") || ExtensionIs(".AVI")))
        filter = kx::AnnexBFilter::Create(videoInfo_->info.video.extradata, videoInfo_->info.video.extradataSize);

    if (streams_.find(key) == streams_.end()) {
        OutputStreamEntry entry;
        entry.sourceStreamIndex = info->streamIndex;
        entry.mediaType = info->mediaType;
        entry.filter = std::move(filter);
        // The raw .flac reader times frames by the numbers inside them.
        if (info->mediaType == kx::MediaType::kAudio && FormatIs("flac") &&
            stream->codecpar->codec_id == AV_CODEC_ID_FLAC)
            entry.flacNumbering = std::make_unique<kx::FlacFrameNumbering>(
                stream->codecpar->extradata, static_cast<size_t>(std::max(0, stream->codecpar->extradata_size)));
        entry.stream = stream;
        streams_.emplace(key, std::move(entry));
    }
    return 0;
}

AVStream* CTMuxer::AddVideoStream(int32_t key, const kx::StreamMediaInfo& info) {
    videoInfo_ = CopyStreamInfo(info);
    AVStream* stream = avformat_new_stream(context_, nullptr);
    if (!stream) {
        std::fprintf(stderr, "Could not alloc stream\n");
        return nullptr;
    }
    stream->id = key;
    const auto& video = info.video;
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = kx::ToLibraryCodecId(info.codecId);
    par->width = video.width;
    par->height = video.height;
    par->format = video.pixelFormat;
    par->bit_rate = video.bitRate;
    par->profile = video.profile;
    par->level = video.level;
    // The display size is the picture size scaled by the sample aspect ratio.
    if (video.width > 0 && video.height > 0 && video.displayWidth % video.width == 0 &&
        video.displayHeight % video.height == 0) {
        const AVRational aspect{video.displayWidth / video.width, video.displayHeight / video.height};
        if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den) {
            par->sample_aspect_ratio = aspect;
            stream->sample_aspect_ratio = aspect;
        }
    }
    if (IsValidRational(video.frameRate)) {
        const AVRational rate{video.frameRate[0], video.frameRate[1]};
        stream->avg_frame_rate = rate;
        stream->r_frame_rate = rate;
        // A frame's duration as the time base the writer starts from.
        stream->time_base = av_inv_q(rate);
    }
    return stream;
}

AVStream* CTMuxer::AddAudioStream(int32_t key, const kx::StreamMediaInfo& info) {
    audioInfo_ = CopyStreamInfo(info);
    AVStream* stream = avformat_new_stream(context_, nullptr);
    if (!stream) {
        std::fprintf(stderr, "Could not alloc stream\n");
        return nullptr;
    }
    stream->id = key;
    const auto& audio = info.audio;
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = kx::ToLibraryCodecId(info.codecId);
    par->format = info.codecId == kCodecAc3 ? AV_SAMPLE_FMT_FLT : audio.sampleFormat;
    par->bit_rate = audio.bitRate;
    par->sample_rate = audio.sampleRate;
    av_channel_layout_uninit(&par->ch_layout);
    if (audio.channelLayout != 0 && av_popcount64(audio.channelLayout) == audio.channels)
        av_channel_layout_from_mask(&par->ch_layout, audio.channelLayout);
    else if (audio.channels > 0)
        av_channel_layout_default(&par->ch_layout, audio.channels);
    par->frame_size = audio.frameSize;
    par->block_align = audio.blockAlign;
    if (FormatIs("avi") && IsValidRational(audio.streamTimeBase))
        stream->time_base = AVRational{audio.streamTimeBase[0], audio.streamTimeBase[1]};
    return stream;
}

void CTMuxer::OpenAudioStreamCodec(AVStream* stream, const kx::StreamMediaInfo& info) {
    AVCodecParameters* par = stream->codecpar;
    ReportMissingEncoder(par->codec_id);
    if (!SetExtradata(par, audioInfo_->info.audio.extradata, audioInfo_->extradata.size()))
        std::fprintf(stderr, "could not open codec\n");
    if (FormatIs("avi") && info.codecId == kCodecDts) {
        par->frame_size = 0;
        par->block_align = 1;
    }
}

void CTMuxer::OpenVideoStreamCodec(AVStream* stream, const kx::StreamMediaInfo& info) {
    AVCodecParameters* par = stream->codecpar;
    ReportMissingEncoder(par->codec_id);
    if (!SetExtradata(par, videoInfo_->info.video.extradata, videoInfo_->extradata.size()))
        std::fprintf(stderr, "could not open codec\n");
    AttachDisplayMatrix(stream, info.video.displayMatrix);
    if (info.codecId == kCodecH264) RewriteH264Extradata(par);
    if (par->codec_id == AV_CODEC_ID_HEVC) AddHevcParameterSets(par);
}

// The sets added go after the source's: into the hvcC record's arrays, or
// behind the Annex B header.
void CTMuxer::AddHevcParameterSets(AVCodecParameters* parameters) {
    if (moreParameterSets_.empty()) return;
    const size_t size = parameters->extradata_size > 0 ? static_cast<size_t>(parameters->extradata_size) : 0;
    std::vector<uint8_t> joined;
    if (size > 0 && parameters->extradata[0] == 1) {
        joined =
            kx::AppendToHvcCRecord(parameters->extradata, size, moreParameterSets_.data(), moreParameterSets_.size());
    } else {
        joined.assign(parameters->extradata, parameters->extradata + size);
        joined.insert(joined.end(), moreParameterSets_.begin(), moreParameterSets_.end());
    }
    if (!joined.empty()) SetExtradata(parameters, joined.data(), joined.size());
}

bool CTMuxer::ParseH264ParameterSets(const AVCodecParameters* parameters) {
    const size_t size = parameters->extradata_size > 0 ? static_cast<size_t>(parameters->extradata_size) : 0;
    return kx::ParseH264ParameterSets(parameters->extradata, size, &h264_);
}

// The global header in Annex B form (SPS, then PPS, then any further sets:
// the source's beyond the first of each kind, those added), rebuilt as an
// avcC record for the containers that keep length prefixes.
void CTMuxer::RewriteH264Extradata(AVCodecParameters* parameters) {
    if (!ParseH264ParameterSets(parameters)) return;
    const size_t size = parameters->extradata_size > 0 ? static_cast<size_t>(parameters->extradata_size) : 0;
    std::vector<uint8_t> more = kx::ParameterSetsBesides(parameters->extradata, size, h264_);
    more.insert(more.end(), moreParameterSets_.begin(), moreParameterSets_.end());
    std::vector<uint8_t> header = kx::BuildAnnexBHeader(h264_);
    header.insert(header.end(), more.begin(), more.end());
    if (!SetExtradata(parameters, header.data(), header.size())) return;
    if (StoresLengthPrefixes()) BuildAvcCRecord(parameters, more);
}

bool CTMuxer::BuildAvcCRecord(AVCodecParameters* parameters, const std::vector<uint8_t>& more) {
    avcC_ = kx::BuildAvcCRecord(h264_);
    if (avcC_.empty()) return false;
    if (!more.empty()) {
        std::vector<uint8_t> joined = kx::AppendToAvcCRecord(avcC_.data(), avcC_.size(), more.data(), more.size());
        if (!joined.empty()) avcC_ = std::move(joined);
    }
    // Matroska's writer built the record with these fields when it was given
    // start codes; the record it now gets keeps them.
    if (FormatIs("matroska")) kx::AppendAvcCProfileFields(&avcC_);
    return SetExtradata(parameters, avcC_.data(), avcC_.size());
}

AVStream* CTMuxer::AddSubtitleStream(int32_t key, const kx::SourceStream& source) {
    AVStream* stream = avformat_new_stream(context_, nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, source.parameters) < 0) return nullptr;
    stream->codecpar->codec_tag = 0;  // the container's own tag for the codec
    if (stream->codecpar->codec_id == AV_CODEC_ID_MOV_TEXT) {
        // The writer adds bit rates of its own output; the source's would stay beside them.
        const AVCodecParameters* from = source.parameters;
        const std::vector<uint8_t> header =
            kx::MovTextHeaderWithoutBitRates(from->extradata, static_cast<size_t>(std::max(0, from->extradata_size)));
        if (!SetExtradata(stream->codecpar, header.data(), header.size())) return nullptr;
    }
    stream->id = key;
    stream->time_base = source.timeBase;  // a hint; the writer may choose another
    return stream;
}

void CTMuxer::CopySourceTraits(AVStream* stream, const kx::SourceStream& source) {
    av_dict_copy(&stream->metadata, source.tags, 0);
    stream->disposition = source.disposition;
    for (const auto& side : source.sideData) {
        if (av_stream_get_side_data(stream, side.type, nullptr)) continue;  // set from the description
        uint8_t* data = av_stream_new_side_data(stream, side.type, side.bytes.size());
        if (data && !side.bytes.empty()) std::memcpy(data, side.bytes.data(), side.bytes.size());
    }
    AVCodecParameters* par = stream->codecpar;
    const AVCodecParameters* from = source.parameters;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        // What the description does not carry: colour, field order, depth.
        par->color_range = from->color_range;
        par->color_primaries = from->color_primaries;
        par->color_trc = from->color_trc;
        par->color_space = from->color_space;
        par->chroma_location = from->chroma_location;
        par->field_order = from->field_order;
        par->bits_per_raw_sample = from->bits_per_raw_sample;
        par->video_delay = from->video_delay;
        if (from->sample_aspect_ratio.num > 0 && from->sample_aspect_ratio.den > 0)
            par->sample_aspect_ratio = from->sample_aspect_ratio;
        if (source.sampleAspectRatio.num > 0 && source.sampleAspectRatio.den > 0)
            stream->sample_aspect_ratio = source.sampleAspectRatio;
        // HEVC keeps its sample entry where the container knows it: hvc1
        // (parameter sets in the record only, as some players require) or hev1.
        if (par->codec_id == AV_CODEC_ID_HEVC && from->codec_tag && context_->oformat->codec_tag &&
            av_codec_get_id(context_->oformat->codec_tag, from->codec_tag) == par->codec_id)
            par->codec_tag = from->codec_tag;
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
        // Encoder delay and the samples to drop after a seek (Opus, AAC in
        // Matroska), which players need to keep the sound in place.
        par->initial_padding = from->initial_padding;
        par->trailing_padding = from->trailing_padding;
        par->seek_preroll = from->seek_preroll;
        if (par->bits_per_coded_sample == 0) par->bits_per_coded_sample = from->bits_per_coded_sample;
        if (par->bits_per_raw_sample == 0) par->bits_per_raw_sample = from->bits_per_raw_sample;
    }
}
