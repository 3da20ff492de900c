#include "input/CTMediaInfo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include "input/DemuxTypes.h"
#include "input/FilePassKeyFrames.h"
#include "input/FlacStreamFormat.h"
#include "input/MovTextHeader.h"
#include "input/PacketTally.h"
#include "input/SourceStream.h"
#include "input/StreamRates.h"
#include "media/MediaKernel.h"
#include "platform/WideString.h"

namespace kx {

namespace {

constexpr uint32_t kProfileMask = 0xF5FF;  // drops the constrained/intra flag bits
constexpr double kShortDuration = 0.1;     // seconds; shorter streams take the file's duration
constexpr size_t kFileInfoPathLength = sizeof(FileMediaInfo::path) / sizeof(OLECHAR);

// Records start with these values; every other byte is 0.
void InitRecords(MediaStreamRecord* records, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        records[i].streamId = -1;
        records[i].reserved384 = 2;
    }
}

MediaStreamRecord* NewRecords(uint32_t count) {
    if (count == 0) return nullptr;
    auto* records = static_cast<MediaStreamRecord*>(std::calloc(count, sizeof(MediaStreamRecord)));
    if (records) InitRecords(records, count);
    return records;
}

// Seconds of a stream's own duration; unknown durations count as 0 so that
// the file's duration replaces them later.
double StreamSeconds(const AVStream* stream) {
    if (stream->duration == AV_NOPTS_VALUE || stream->time_base.den == 0) return 0.0;
    return static_cast<double>(av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000000})) / 1000000.0;
}

uint32_t Low32(int64_t value) { return static_cast<uint32_t>(static_cast<uint64_t>(value)); }

void FillCommon(MediaStreamRecord* record, const AVStream* stream, MediaType mediaType) {
    const AVCodecParameters* par = stream->codecpar;
    record->mediaType = static_cast<uint32_t>(mediaType);  // the record shares the numbering
    record->streamIndex = static_cast<uint32_t>(stream->index);
    record->codecId = static_cast<uint32_t>(FromLibraryCodecId(par->codec_id));
    // The library's short codec name stands in for the old per-context name.
    std::snprintf(record->codecName, sizeof record->codecName, "%s", avcodec_get_name(par->codec_id));
    record->duration = StreamSeconds(stream);
    const int extradataSize = par->extradata && par->extradata_size > 0 ? par->extradata_size : 0;
    record->extradataSize = static_cast<uint32_t>(extradataSize);
    // Video always gets a buffer, audio only when there is something to copy.
    if (mediaType == MediaType::kVideo || extradataSize > 0) {
        record->extradata = static_cast<uint8_t*>(std::calloc(extradataSize > 0 ? extradataSize : 1, 1));
        if (record->extradata && extradataSize > 0) std::memcpy(record->extradata, par->extradata, extradataSize);
        if (!record->extradata) record->extradataSize = 0;
    }
}

// The stream's counted packets, when a pass counted them.
struct Measured {
    const StreamTally* tally = nullptr;
    double fileSeconds = 0;

    // Bits per second over the duration the record gives the stream (its
    // own, else the file's), so that rate x duration is the stream's bytes.
    uint32_t BitRate(const AVStream* stream) const {
        if (!tally) return 0;
        const double own = StreamSeconds(stream);
        const double seconds = own > kShortDuration ? own : fileSeconds > 0 ? fileSeconds : tally->seconds;
        return MeasuredBitRate(*tally, seconds);
    }
};

void FillVideo(MediaStreamRecord* record, const AVStream* stream, const Measured& measured) {
    const AVCodecParameters* par = stream->codecpar;
    FillCommon(record, stream, MediaType::kVideo);
    record->bitRate = NeedsMeasuredBitRate(par) ? measured.BitRate(stream) : Low32(par->bit_rate);
    record->width = static_cast<uint32_t>(par->width);
    record->height = static_cast<uint32_t>(par->height);
    // The record has no place to say the rate varies: it says 0 rather
    // than a base rate that most of the stream does not keep.
    if (FrameRateKindOf(stream, measured.tally) == FrameRateKind::Variable)
        record->frameRate = 0;
    else if (stream->r_frame_rate.num != 0 && stream->r_frame_rate.den != 0)
        record->frameRate = static_cast<double>(stream->r_frame_rate.num) / stream->r_frame_rate.den;
    else if (stream->avg_frame_rate.num != 0 && stream->avg_frame_rate.den != 0)
        record->frameRate = static_cast<double>(stream->avg_frame_rate.num) / stream->avg_frame_rate.den;
    const AVRational sar = par->sample_aspect_ratio;
    const uint32_t displayWidth = Low32(static_cast<int64_t>(par->width) * sar.num);
    const uint32_t displayHeight = Low32(static_cast<int64_t>(par->height) * sar.den);
    if (sar.num != 0 && sar.den != 0) {
        record->aspectNum = displayWidth;
        record->aspectDen = displayHeight;
    } else {
        record->aspectNum = 0;
        record->aspectDen = 1;
    }
    record->profile = static_cast<uint32_t>(par->profile) & kProfileMask;
    record->level = static_cast<uint32_t>(par->level);
    // Frames the decoder may hold back for reordering: the nearest thing the
    // container parameters carry to a B-frame count.
    record->maxBFrames = static_cast<uint32_t>(par->video_delay);
    record->displayWidth = displayWidth;
    record->displayHeight = displayHeight;
}

void FillAudio(MediaStreamRecord* record, const AVStream* stream, const Measured& measured) {
    const AVCodecParameters* par = stream->codecpar;
    FillCommon(record, stream, MediaType::kAudio);
    const int32_t channels = par->ch_layout.nb_channels;
    const int32_t bitsPerSample = par->bits_per_coded_sample < 1 ? 16 : par->bits_per_coded_sample;
    // 32-bit arithmetic as the record keeps it, wrapping instead of overflowing.
    const int32_t bytesPerSecond = static_cast<int32_t>(
        Low32(static_cast<int64_t>(channels) * bitsPerSample * par->sample_rate) / 8u);
    record->sampleRate = static_cast<uint32_t>(par->sample_rate);
    record->channels = static_cast<uint32_t>(channels);
    record->bitsPerSample = static_cast<uint32_t>(bitsPerSample);
    record->bytesPerSecond = static_cast<uint32_t>(bytesPerSecond);
    if (NeedsMeasuredBitRate(par))
        record->bitRate = measured.BitRate(stream);
    else  // uncompressed audio without a stated rate: the rate of its samples
        record->bitRate = par->bit_rate != 0 ? Low32(par->bit_rate) : Low32(static_cast<int64_t>(bytesPerSecond) * 8);
    record->audioDuration = record->duration;
}

// Fills one entry from the given streams of the file.
void FillEntry(AVFormatContext* context, ProgramInfo* entry, uint32_t number, const std::vector<unsigned>& streams,
               uint32_t idProgram, const std::vector<StreamTally>& tallies, double fileSeconds) {
    uint32_t videos = 0, audios = 0, subtitles = 0;
    for (unsigned index : streams) {
        switch (context->streams[index]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            ++videos;
            break;
        case AVMEDIA_TYPE_AUDIO:
            ++audios;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            ++subtitles;
            break;
        default:
            break;
        }
    }
    entry->videos = NewRecords(videos);
    entry->audios = NewRecords(audios);
    entry->subtitles = NewRecords(subtitles);
    entry->videoCount = entry->videos ? videos : 0;
    entry->audioCount = entry->audios ? audios : 0;
    entry->subtitleCount = entry->subtitles ? subtitles : 0;
    entry->number = number;

    uint32_t nextVideo = 0, nextAudio = 0;
    for (unsigned index : streams) {
        const AVStream* stream = context->streams[index];
        const uint32_t programPart = (idProgram & 0xFF) * 65536u;
        const Measured measured{index < tallies.size() && tallies[index].counted ? &tallies[index] : nullptr,
                                fileSeconds};
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && nextVideo < entry->videoCount) {
            MediaStreamRecord* record = &entry->videos[nextVideo++];
            FillVideo(record, stream, measured);
            record->streamId = static_cast<int32_t>(programPart + (index & 0xFFFFu));
            entry->bitRate += record->bitRate;
        } else if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && nextAudio < entry->audioCount) {
            MediaStreamRecord* record = &entry->audios[nextAudio++];
            FillAudio(record, stream, measured);
            record->streamId = static_cast<int32_t>(programPart + ((index + 0x4000u) & 0xFFFFu));
            entry->bitRate += record->bitRate;
        }
    }
}

// Packets counted only for the streams whose container gives no usable bit
// rate: no pass at all for files that give every rate (MP4), or when the
// host wants only stored rates.
std::vector<StreamTally> CountWhereRatesAreMissing(const AVFormatContext* context, const InputSource& source) {
    if (source.policy.rates == RateCount::kStoredOnly) return std::vector<StreamTally>(context->nb_streams);
    std::vector<bool> wanted(context->nb_streams, false);
    bool any = false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        wanted[i] = NeedsMeasuredBitRate(context->streams[i]->codecpar);
        any = any || wanted[i];
    }
    if (!any) return std::vector<StreamTally>(context->nb_streams);
    return TallyPackets(source, context, wanted);
}

// The program lasts as long as the file; a file without a length takes its
// longest stream.
double ProgramSeconds(const ProgramInfo& entry, double fileSeconds) {
    if (fileSeconds > 0) return fileSeconds;
    double longest = 0;
    for (uint32_t i = 0; entry.videos && i < entry.videoCount; ++i) longest = std::max(longest, entry.videos[i].duration);
    for (uint32_t i = 0; entry.audios && i < entry.audioCount; ++i) longest = std::max(longest, entry.audios[i].duration);
    return longest;
}

void CorrectShortDurations(MediaStreamRecord* records, uint32_t count, double fileSeconds) {
    for (uint32_t i = 0; i < count; ++i)
        if (records[i].duration <= kShortDuration) records[i].duration = fileSeconds;
}

bool SameSubtitleHeader(const StreamMediaInfo& a, const StreamMediaInfo& b) {
    const AVCodecParameters* x = a.source ? a.source->parameters : nullptr;
    const AVCodecParameters* y = b.source ? b.source->parameters : nullptr;
    if (!x || !y) return x == y;
    if (x->codec_id == AV_CODEC_ID_MOV_TEXT && y->codec_id == AV_CODEC_ID_MOV_TEXT)
        return MovTextHeaderWithoutBitRates(x->extradata, static_cast<size_t>(std::max(0, x->extradata_size))) ==
               MovTextHeaderWithoutBitRates(y->extradata, static_cast<size_t>(std::max(0, y->extradata_size)));
    return x->extradata_size == y->extradata_size &&
           (x->extradata_size <= 0 || std::memcmp(x->extradata, y->extradata, x->extradata_size) == 0);
}

// A variable frame rate (a phone's recording, or a clip of one) has no rate
// of its own: the library guesses one from the first timestamps, and so
// guesses differently for each clip. Each packet carries its own times, so
// such streams join whatever the guesses say.
bool HasConstantFrameRate(const StreamMediaInfo& info) {
    if (!info.source) return true;
    const AVRational real = info.source->realFrameRate;
    const AVRational average = info.source->averageFrameRate;
    if (real.num <= 0 || real.den <= 0 || average.num <= 0 || average.den <= 0) return true;
    return std::fabs(av_q2d(real) / av_q2d(average) - 1.0) <= 0.01;
}

bool IsFlac(const StreamMediaInfo& info) {
    return info.source && info.source->parameters && info.source->parameters->codec_id == AV_CODEC_ID_FLAC;
}

}  // namespace

CTMediaInfo::~CTMediaInfo() { CloseMediaFile(); }

int CTMediaInfo::OpenMediaFile(const char16_t* path) {
    if (!path) return -1;
    return OpenMediaSource(InputSource::File(path));
}

int CTMediaInfo::OpenMediaSource(const InputSource& source) {
    if (info_) return 0;
    CloseInput(&context_);  // a second open replaces the first
    WideCopy(path_, kMediaInfoPathLength, source.path.c_str());
    source_ = source;
    OpenedInput opened = OpenInput(source, ProbeDepth::kStreamInfo);
    problem_ = std::move(opened.problem);
    if (!opened.context) return -1;
    context_ = opened.context;
    source_.format = context_->iformat;  // the packet count opens it again
    return 0;
}

FileMediaInfo* CTMediaInfo::GetMediainfo() {
    if (info_) return info_;  // also after the file was handed over
    if (!context_) return nullptr;
    const unsigned streamCount = context_->nb_streams;
    if (streamCount == 0) return nullptr;

    uint64_t covered = 0;
    for (unsigned p = 0; p < context_->nb_programs; ++p) covered += context_->programs[p]->nb_stream_indexes;
    const uint32_t extra = covered < streamCount ? 1 : 0;
    std::printf("=====CTMediaInfo::GetMediainfo() = %d \n", static_cast<int>(extra));
    std::fflush(stdout);

    auto* info = static_cast<FileMediaInfo*>(std::calloc(1, sizeof(FileMediaInfo)));
    if (!info) return nullptr;
    WideCopy(info->path, kFileInfoPathLength, path_);
    info->hasExtra = extra;
    const int64_t microseconds = context_->duration == AV_NOPTS_VALUE ? 0 : context_->duration;
    info->duration = static_cast<double>(microseconds) * 10.0 / 10000000.0;

    std::vector<StreamTally> tallies = CountWhereRatesAreMissing(context_, source_);
    for (unsigned i = 0; keyFramesFound_ && i < tallies.size(); ++i)
        if (tallies[i].counted && context_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            keyFramesFound_->Keep(static_cast<int>(i), std::move(tallies[i].keyFrames));

    const uint32_t programs = context_->nb_programs;
    const uint32_t entries = programs + extra;
    info->programs = static_cast<ProgramInfo*>(std::calloc(entries, sizeof(ProgramInfo)));
    if (!info->programs) {
        std::free(info);
        return nullptr;
    }
    info->programCount = entries;

    std::vector<bool> listed(streamCount, false);
    for (uint32_t p = 0; p < programs; ++p) {
        const AVProgram* program = context_->programs[p];
        std::vector<unsigned> streams;
        for (unsigned i = 0; i < program->nb_stream_indexes; ++i) {
            const unsigned index = program->stream_index[i];
            if (index >= streamCount) continue;
            streams.push_back(index);
            listed[index] = true;
        }
        FillEntry(context_, &info->programs[p], p + 1, streams, p + 1, tallies, info->duration);
    }
    if (extra) {
        std::vector<unsigned> streams;
        for (unsigned index = 0; index < streamCount; ++index)
            if (!listed[index]) streams.push_back(index);
        // Streams outside every program are numbered as the first program.
        FillEntry(context_, &info->programs[programs], programs + 1, streams, 1, tallies, info->duration);
    }

    uint32_t streamBitRates = 0;
    for (uint32_t e = 0; e < entries; ++e) {
        ProgramInfo& entry = info->programs[e];
        CorrectShortDurations(entry.videos, entry.videoCount, info->duration);
        CorrectShortDurations(entry.audios, entry.audioCount, info->duration);
        entry.duration = ProgramSeconds(entry, info->duration);
        streamBitRates += entry.bitRate;
    }
    // Everything the file holds over its length, container overhead included;
    // the streams' sum when the size or the length is unknown.
    const int64_t fileBytes = context_->pb ? avio_size(context_->pb) : 0;
    info->totalBitRate = FileBitRate(fileBytes, info->duration);
    if (info->totalBitRate == 0) info->totalBitRate = streamBitRates;
    summary_ = SummarizeFile(context_);
    info_ = info;
    return info_;
}

AVFormatContext* CTMediaInfo::TakeOpenedContext() {
    if (!info_) return nullptr;
    AVFormatContext* context = context_;
    context_ = nullptr;
    return context;
}

void CTMediaInfo::CloseMediaFile() {
    FreeFileMediaInfo(info_);
    info_ = nullptr;
    summary_ = FileSummary{};
    CloseInput(&context_);
}

void FreeFileMediaInfo(FileMediaInfo* info) {
    if (!info) return;
    if (info->programs) {
        for (uint32_t e = 0; e < info->programCount; ++e) {
            ProgramInfo& entry = info->programs[e];
            for (uint32_t i = 0; entry.videos && i < entry.videoCount; ++i) std::free(entry.videos[i].extradata);
            for (uint32_t i = 0; entry.audios && i < entry.audioCount; ++i) std::free(entry.audios[i].extradata);
            std::free(entry.videos);
            std::free(entry.audios);
            std::free(entry.subtitles);
        }
        std::free(info->programs);
    }
    std::free(info);
}

int CTMediaInfo::IsStreamFormatCompatible(const StreamMediaInfo* a, const StreamMediaInfo* b) {
    if (!a || !b) return 0;
    if (a->mediaType != b->mediaType) return 0;
    // One output stream holds one subtitle format, with one header (ASS styles).
    if (a->mediaType == MediaType::kSubtitle) return a->codecId == b->codecId && SameSubtitleHeader(*a, *b) ? 1 : 0;
    if (a->mediaType == MediaType::kVideo) {
        const auto& x = a->video;
        const auto& y = b->video;
        const bool ratesCompared = HasConstantFrameRate(*a) && HasConstantFrameRate(*b);
        if (ratesCompared && (x.codecTimeBase[0] != y.codecTimeBase[0] || x.codecTimeBase[1] != y.codecTimeBase[1] ||
                              x.ticksPerFrame != y.ticksPerFrame || x.frameRate[0] != y.frameRate[0] ||
                              x.frameRate[1] != y.frameRate[1]))
            return 0;
        if (a->codecId != b->codecId || x.height != y.height || x.width != y.width || x.pixelFormat != y.pixelFormat ||
            x.gopSize != y.gopSize || x.maxBFrames != y.maxBFrames || x.level != y.level || x.profile != y.profile)
            return 0;
        for (int i = 0; i < 6; ++i)
            if (x.displayMatrix[i] != y.displayMatrix[i]) return 0;
        const double aspectA = x.displayHeight ? static_cast<double>(x.displayWidth) / x.displayHeight : 0.0;
        const double aspectB = y.displayHeight ? static_cast<double>(y.displayWidth) / y.displayHeight : 0.0;
        return std::fabs(aspectA - aspectB) <= 0.001 ? 1 : 0;
    }
    if (a->mediaType == MediaType::kAudio) {
        const auto& x = a->audio;
        const auto& y = b->audio;
        if (a->codecId != b->codecId || x.channelLayout != y.channelLayout || x.sampleFormat != y.sampleFormat ||
            x.sampleRate != y.sampleRate || x.codecTimeBase[0] != y.codecTimeBase[0] ||
            x.codecTimeBase[1] != y.codecTimeBase[1] || x.channels != y.channels)
            return 0;
        if (IsFlac(*a) && IsFlac(*b))
            return SameFlacStreamFormat(x.extradata, static_cast<size_t>(std::max(0, x.extradataSize)), y.extradata,
                                        static_cast<size_t>(std::max(0, y.extradataSize)))
                       ? 1
                       : 0;
        if (x.extradataSize != y.extradataSize) return 0;
        if (x.extradataSize <= 0) return 1;
        if (!x.extradata || !y.extradata) return x.extradata == y.extradata ? 1 : 0;
        return std::memcmp(x.extradata, y.extradata, static_cast<size_t>(x.extradataSize)) == 0 ? 1 : 0;
    }
    return 0;
}

}  // namespace kx
