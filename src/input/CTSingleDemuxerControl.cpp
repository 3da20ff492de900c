#include "input/CTSingleDemuxerControl.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "input/AnnexBRemnant.h"
#include "input/DeclaredLength.h"
#include "input/DecodedFrameStore.h"
#include "input/DemuxTime.h"
#include "input/FileStart.h"
#include "input/InputOpen.h"
#include "input/VideoKeyFrame.h"

namespace kx {

namespace {

constexpr int64_t kSeekToleranceTicks = 10'000;  // 1 ms
constexpr double kMaxSeekSeconds = 9.0e11;        // keeps seconds x 10^7 inside int64
constexpr double kFirstBackOffSeconds = 1.0;

bool IsKey(int flags) { return (flags & AV_PKT_FLAG_KEY) != 0; }

}  // namespace

CTSingleDemuxerControl::CTSingleDemuxerControl() : packet_(av_packet_alloc()), frame_(av_frame_alloc()) {}

CTSingleDemuxerControl::~CTSingleDemuxerControl() {
    for (auto& [index, record] : decodedFrames_) FreeDecodedFrame(record);
    decodedFrames_.clear();
    av_packet_free(&packet_);
    av_frame_free(&frame_);
}

void CTSingleDemuxerControl::Initialize(AVFormatContext* context, int decodeMode) {
    if (!context) return;
    format_ = context;
    packetMode_ = decodeMode == 0 ? 1 : 0;
    openedBytes_ = CurrentInputBytes(context);
    declared_ = DeclaredHeadOf(context);
}

void CTSingleDemuxerControl::ForgetInputEnd() {
    end_ = InputEnd{};
    reachedTicks_ = 0;
    lastCutShort_ = false;
}

void CTSingleDemuxerControl::NotePacketRead(const AVStream* stream, const AVPacket* packet) {
    const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (time != AV_NOPTS_VALUE)
        reachedTicks_ = std::max(reachedTicks_, StreamTimeToTicks(time + std::max<int64_t>(packet->duration, 0),
                                                                  stream->time_base) - timeZero_);
    // A short read of a packet whose size the index or header gave.
    lastCutShort_ = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
}

int64_t CTSingleDemuxerControl::ExpectedEndTicks() const {
    // AVI's reader estimates the duration of a file without its index from
    // the bytes there are; the main header still says how long it was.
    const int64_t declared =
        declared_.microseconds > 0 ? StreamTimeToTicks(declared_.microseconds, AVRational{1, 1'000'000}) - timeZero_ : 0;
    return std::max(declared, ExpectedEndTicksFromLibrary());
}

int64_t CTSingleDemuxerControl::ExpectedEndTicksFromLibrary() const {
    int64_t expected = 0;
    if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
        const int64_t start = format_->start_time == AV_NOPTS_VALUE ? 0 : format_->start_time;
        expected = StreamTimeToTicks(start + format_->duration, AVRational{1, AV_TIME_BASE}) - timeZero_;
    }
    if (!streams_) return expected;
    // Streams that know their own length are judged by it: another stream
    // may run on after them.
    int64_t own = 0;
    bool allKnown = !streams_->empty();
    for (const auto& [index, entry] : *streams_) {
        const AVStream* stream = format_->streams[index];
        if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) {
            allKnown = false;
            continue;
        }
        const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
        own = std::max(own, StreamTimeToTicks(start + stream->duration, stream->time_base) - timeZero_);
    }
    return allKnown ? own : std::max(own, expected);
}

bool CTSingleDemuxerControl::IndexPastEnd(int64_t fileBytes) const {
    if (fileBytes < 0 || !streams_) return false;
    for (const auto& [index, entry] : *streams_) {
        AVStream* stream = format_->streams[index];
        const int count = avformat_index_get_entries_count(stream);
        for (int i = 0; i < count; ++i) {
            const AVIndexEntry* item = avformat_index_get_entry(stream, i);
            if (item && item->pos >= 0 && item->pos + item->size > fileBytes) return true;
        }
    }
    return false;
}

void CTSingleDemuxerControl::NoteEndOfInput(int error) {
    const int64_t now = CurrentInputBytes(format_);
    EndObservation seen;
    seen.reachedTicks = reachedTicks_;
    seen.expectedTicks = ExpectedEndTicks();
    seen.lastPacketCutShort = lastCutShort_;
    seen.fileShrank = now >= 0 && openedBytes_ > 0 && now < openedBytes_;
    seen.indexPastEnd = IndexPastEnd(now);
    seen.lengthPastEnd = now >= 0 && declared_.bytes > now;
    seen.readError = error == AVERROR_EOF ? 0 : error;
    InputEnd judged = JudgeInputEnd(seen);
    // An early end stays until forgotten; reading that went further after
    // a seek only moves where it is said to have ended.
    if (end_.kind == InputEndKind::kEarly && judged.kind != InputEndKind::kEarly)
        end_.reachedTicks = std::max(end_.reachedTicks, judged.reachedTicks);
    else
        end_ = judged;
}

void CTSingleDemuxerControl::AttachStreams(StreamMap* streams) {
    streams_ = streams;
    if (packetMode_ || !streams) return;
    for (auto& [index, entry] : *streams) {
        if (decodedFrames_.count(index)) continue;
        const AVCodecContext* context = entry.codecContext.get();
        DecodedFrame* record = nullptr;
        if (entry.mediaType == MediaType::kVideo)
            record = CreateVideoFrameRecord(context ? context->width : 0, context ? context->height : 0);
        else if (entry.mediaType == MediaType::kAudio)
            record = CreateAudioFrameRecord(context ? context->ch_layout.nb_channels : 0,
                                            context ? context->sample_rate : 0);
        if (record) decodedFrames_.emplace(index, record);
    }
}

int CTSingleDemuxerControl::GetSampleInfo(SampleInfo* info) {
    if (sampleReady_ && info) *info = info_;
    return sampleReady_;
}

int CTSingleDemuxerControl::SetHoldSample(int hold) {
    discardOnRead_ = hold == 0 ? 1 : 0;
    return discardOnRead_;
}

int CTSingleDemuxerControl::ReadNext() {
    if (sampleTaken_ == 0) {  // the held sample was not handed out yet
        sampleReady_ = 1;
        return 1;
    }
    if (discardOnRead_) sampleReady_ = 0;
    int result = packetMode_ ? ReadPacketMode() : ReadDecodeMode();
    // Only a sample actually held waits to be handed out; a failed read
    // must not make the next ReadNext claim one.
    if (result == 1) sampleTaken_ = 0;
    return result;
}

int CTSingleDemuxerControl::ReadPacketMode() {
    if (!streams_ || !format_ || !feed_ || !packet_ || endOfStream_) return 0;
    if (sampleReady_ == 1) return 1;
    av_packet_unref(packet_);
    sampleReady_ = 0;
    for (;;) {
        if (const int error = feed_->Read(packet_); error < 0) {
            NoteEndOfInput(error);
            sampleReady_ = 0;
            endOfStream_ = 1;
            return 0;
        }
        auto it = streams_->find(packet_->stream_index);
        if (it == streams_->end()) {
            av_packet_unref(packet_);
            continue;
        }
        const AVStream* stream = format_->streams[packet_->stream_index];
        NotePacketRead(stream, packet_);
        RebasePacketTimes(stream, it->second.mediaType);
        if (it->second.mediaType == MediaType::kVideo) {
            const AVCodecID codec = stream->codecpar->codec_id;
            const BitstreamForm& form = it->second.bitstreamForm;
            if (codec == AV_CODEC_ID_H264 && form.nalUnits.framing == H264Framing::AnnexB) DropSeekRemnant();
            // Containers do not always flag key frames; the bytes tell.
            if (!IsKey(packet_->flags) && IsKeyFrameByBitstream(codec, packet_->data, packet_->size, form))
                packet_->flags |= AV_PKT_FLAG_KEY;
        }

        sampleReady_ = 1;
        info_.streamIndex = packet_->stream_index;
        info_.mediaType = it->second.mediaType;
        info_.pts = packet_->pts;
        info_.dts = packet_->dts;
        info_.duration = packet_->duration;
        info_.flags = packet_->flags;
        return 1;
    }
}

void CTSingleDemuxerControl::DropSeekRemnant() {
    const size_t remnant = AnnexBRemnantLength(packet_->data, static_cast<size_t>(std::max(packet_->size, 0)));
    if (remnant == 0) return;
    // The payload stays where it is: the packet's reference keeps its buffer.
    packet_->data += remnant;
    packet_->size -= static_cast<int>(remnant);
}

void CTSingleDemuxerControl::RebasePacketTimes(const AVStream* stream, MediaType mediaType) {
    const bool dtsMissing = packet_->dts == AV_NOPTS_VALUE;
    packet_->pts = ShownTimeOf(packet_, stream);
    packet_->pts = StreamTimeToTicksOrNoPts(packet_->pts, stream->time_base);
    packet_->dts = StreamTimeToTicksOrNoPts(packet_->dts, stream->time_base);
    packet_->duration = StreamTimeToTicks(packet_->duration, stream->time_base);
    // Some containers give pictures no duration (MP4 with uneven frame
    // spacing): a picture lasts the stream's mean frame time, which is what
    // ends the last one where a merge joins the next file.
    const AVRational rate = stream->avg_frame_rate;
    if (packet_->duration <= 0 && mediaType == MediaType::kVideo && rate.num > 0 && rate.den > 0)
        packet_->duration = av_rescale(kTicksPerSecond, rate.den, rate.num);
    if (packet_->pts != AV_NOPTS_VALUE) packet_->pts -= timeZero_;
    if (packet_->dts != AV_NOPTS_VALUE) packet_->dts -= timeZero_;
    if (mediaType != MediaType::kVideo) return;
    auto it = derivers_.find(packet_->stream_index);
    if (it == derivers_.end()) {
        // Decided once per run: a container that gives the first packet no
        // decoding time gives them only where the library guessed them, and
        // guesses mixed with ours would not rise.
        if (!dtsMissing) return;
        int depth = std::max(stream->codecpar->video_delay, 0);
        if (depth > 0) depth = std::max(depth, 2);
        // The duration is the mean frame time where the container gave none.
        it = derivers_.emplace(packet_->stream_index, DtsDeriver(depth, packet_->duration)).first;
    }
    if (packet_->pts != AV_NOPTS_VALUE) packet_->dts = it->second.Next(packet_->pts);
}

int CTSingleDemuxerControl::ReadDecodeMode() {
    if (!streams_ || !format_ || !feed_ || !packet_ || !frame_ || endOfStream_) return 0;
    if (sampleReady_ == 1) return 1;
    sampleReady_ = 0;
    for (;;) {
        if (ReceiveDecodedFrame()) return 1;
        if (draining_) {  // every decoder is empty: the end
            endOfStream_ = 1;
            return 0;
        }
        if (const int error = feed_->Read(packet_); error < 0) {
            NoteEndOfInput(error);
            // Out of packets: let the decoders give up the frames they still hold.
            draining_ = true;
            for (auto& [index, entry] : *streams_)
                if (entry.codecContext && avcodec_is_open(entry.codecContext.get()))
                    avcodec_send_packet(entry.codecContext.get(), nullptr);
            continue;
        }
        auto it = streams_->find(packet_->stream_index);
        if (it != streams_->end()) NotePacketRead(format_->streams[packet_->stream_index], packet_);
        if (it != streams_->end() && (it->second.mediaType == MediaType::kVideo || it->second.mediaType == MediaType::kAudio) &&
            it->second.codecContext && avcodec_is_open(it->second.codecContext.get()))
            avcodec_send_packet(it->second.codecContext.get(), packet_);  // a broken packet is dropped
        av_packet_unref(packet_);
    }
}

bool CTSingleDemuxerControl::ReceiveDecodedFrame() {
    for (auto& [index, entry] : *streams_) {
        if (entry.mediaType != MediaType::kVideo && entry.mediaType != MediaType::kAudio) continue;
        AVCodecContext* context = entry.codecContext.get();
        if (!context || !avcodec_is_open(context)) continue;
        if (avcodec_receive_frame(context, frame_) != 0) continue;
        if (entry.mediaType == MediaType::kVideo)
            TakeVideoFrame(entry, format_->streams[index]);
        else
            TakeAudioFrame(entry);
        return true;
    }
    return false;
}

void CTSingleDemuxerControl::TakeVideoFrame(StreamEntry& entry, AVStream* stream) {
    int64_t best = frame_->best_effort_timestamp;
    if (best == AV_NOPTS_VALUE) {
        framePts_ = kNoPts;
    } else {
        int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
        framePts_ = StreamTimeToTicks(best - start, stream->time_base);
    }
    frame_->pts = framePts_;
    info_.streamIndex = entry.streamIndex;
    info_.mediaType = MediaType::kVideo;
    info_.pts = framePts_;
    info_.dts = framePts_;
    info_.duration = -1;
    info_.flags = frame_->key_frame ? AV_PKT_FLAG_KEY : 0;
    sampleReady_ = 1;
}

void CTSingleDemuxerControl::TakeAudioFrame(StreamEntry& entry) {
    int64_t clock = entry.audioClock;
    int sampleRate = entry.codecContext->sample_rate;
    int64_t duration = sampleRate > 0 ? int64_t(frame_->nb_samples) * kTicksPerSecond / sampleRate : 0;
    framePts_ = clock;
    frame_->pts = clock;
    info_.streamIndex = entry.streamIndex;
    info_.mediaType = MediaType::kAudio;
    info_.pts = clock - entry.startTime;
    info_.dts = clock;
    info_.duration = duration;
    info_.flags = AV_PKT_FLAG_KEY;  // every decoded audio block is a sync point
    entry.audioClock += duration;
    sampleReady_ = 1;
}

void CTSingleDemuxerControl::FlushDecoders() {
    if (!streams_) return;
    for (auto& [index, entry] : *streams_)
        if (entry.codecContext && avcodec_is_open(entry.codecContext.get()))
            avcodec_flush_buffers(entry.codecContext.get());
    draining_ = false;
    av_frame_unref(frame_);
}

int CTSingleDemuxerControl::GetPacket(AVPacket* packet) {
    if (!packet || !streams_ || endOfStream_ || !sampleReady_ || !packet_) return 0;
    sampleTaken_ = 1;
    av_packet_unref(packet);
    return av_packet_ref(packet, packet_) == 0 ? 1 : 0;
}

DecodedFrame* CTSingleDemuxerControl::GetDecodedFrame() {
    if (!streams_ || endOfStream_ || !sampleReady_) return nullptr;
    auto it = decodedFrames_.find(info_.streamIndex);
    if (it == decodedFrames_.end()) return nullptr;
    DecodedFrame* record = it->second;
    bool filled = info_.mediaType == MediaType::kVideo ? FillVideoRecord(record, frame_)
                  : info_.mediaType == MediaType::kAudio ? FillAudioRecord(record, frame_)
                                                   : false;
    if (!filled) return nullptr;
    record->type = info_.mediaType;
    record->pts = framePts_;
    record->dts = framePts_;
    record->duration = static_cast<int32_t>(info_.duration);
    sampleTaken_ = 1;  // handed out: the next ReadNext decodes on
    return record;
}

int CTSingleDemuxerControl::SeekTarget(int streamIndex) const {
    if (!streams_ || streams_->empty()) return -1;
    if (streamIndex == -1) {
        for (const auto& [index, entry] : *streams_)
            if (entry.mediaType == MediaType::kVideo) return index;
        return streams_->rbegin()->first;
    }
    return streams_->count(streamIndex) ? streamIndex : -1;
}

int CTSingleDemuxerControl::BasicSeek(double seconds, SeekMode mode, int streamIndex) {
    const AVStream* stream = format_->streams[streamIndex];
    int result;
    if (mode == SeekMode::kByte) {
        result = feed_->Seek(streamIndex, static_cast<int64_t>(seconds), AVSEEK_FLAG_BYTE);
    } else {
        int64_t ticks = static_cast<int64_t>(seconds * 1e7) + timeZero_;
        result = feed_->Seek(streamIndex, TicksToStreamTime(ticks, stream->time_base),
                             mode == SeekMode::kAny ? AVSEEK_FLAG_ANY : AVSEEK_FLAG_BACKWARD);
    }
    if (!packetMode_) FlushDecoders();
    ResetDerivedTimes();
    endOfStream_ = 0;
    return result;
}

int CTSingleDemuxerControl::SeekToStart(int streamIndex) {
    const int result = SeekToFirstPacket(format_, streamIndex, [this, streamIndex](int64_t timestamp, int flags) {
        return feed_->Seek(streamIndex, timestamp, flags);
    });
    if (!packetMode_) FlushDecoders();
    ResetDerivedTimes();
    endOfStream_ = 0;
    return result;
}

int CTSingleDemuxerControl::FollowInput() {
    SetSampleReady(0);
    if (!format_ || !feed_ || !streams_ || streams_->empty()) return 0;
    if (!packetMode_) FlushDecoders();
    ResetDerivedTimes();
    endOfStream_ = 0;
    return ReadAfterRelease();
}

int CTSingleDemuxerControl::Rewind() {
    SetSampleReady(0);
    if (!format_ || !feed_ || !streams_ || streams_->empty()) return 0;
    SeekToStart(SeekTarget(-1));
    return ReadAfterRelease();
}

int CTSingleDemuxerControl::ReadAfterRelease() {
    SetSampleReady(0);
    sampleTaken_ = 1;
    return ReadNext();
}

bool CTSingleDemuxerControl::HeldKeySample(int streamIndex) const {
    return sampleReady_ && info_.streamIndex == streamIndex && IsKey(info_.flags);
}

int CTSingleDemuxerControl::SeekVideo(double seconds, SeekMode mode, int streamIndex) {
    const int64_t target = static_cast<int64_t>(seconds * 1e7);
    double t = seconds;
    double backOff = kFirstBackOffSeconds;
    int result = 0;
    // Back off until the key frame reached lies at or before the target. A
    // container without a key-frame index lands by decoding times, often on
    // the pictures just after the key frame: a second back suffices then,
    // and each step doubles, so a cut far into a long file reads little.
    for (;;) {
        BasicSeek(t, mode, streamIndex);
        int found = ReadAfterRelease();
        while (found && !HeldKeySample(streamIndex)) found = ReadAfterRelease();
        // Seconds in and out of ticks may lose a tick: 1 ms slack.
        if (HeldKeySample(streamIndex) && info_.pts <= target + kSeekToleranceTicks) {
            result = found;
            break;
        }
        t = seconds - backOff;
        backOff *= 2;
        if (t < 5.0) {
            // A seek to time 0 may land after the first key frame too
            // (program streams are searched by the times of their PES packets).
            result = SeekToStart(streamIndex);
            break;
        }
    }
    if (result < 0) return result;
    // Then forward to the first key frame not earlier than the target (1 ms slack).
    bool landed = HeldKeySample(streamIndex) && info_.pts >= target - kSeekToleranceTicks &&
                  info_.pts <= target + kSeekToleranceTicks;
    if (!landed) {
        while (ReadAfterRelease()) {
            if (HeldKeySample(streamIndex) && info_.pts > target - kSeekToleranceTicks) break;
        }
    }
    endOfStream_ = 0;
    return result;
}

int CTSingleDemuxerControl::Seek(double seconds, SeekMode mode, int streamIndex) {
    SetSampleReady(0);
    if (!format_ || !feed_ || std::isnan(seconds)) return -1;
    seconds = std::clamp(seconds, -kMaxSeekSeconds, kMaxSeekSeconds);
    int target = SeekTarget(streamIndex);
    if (target < 0) return -1;
    switch ((*streams_)[target].mediaType) {
        case MediaType::kVideo:
            return SeekVideo(seconds, mode, target);
        case MediaType::kAudio: {
            BasicSeek(seconds, mode, target);
            sampleTaken_ = 1;
            int result = ReadNext();
            endOfStream_ = 0;
            return result;
        }
        default:
            return -1;
    }
}

int CTSingleDemuxerControl::CheckSeekable(int streamIndex) {
    if (seekability_ != kSeekUnknown) return seekability_;
    seekability_ = kSeekNo;
    if (!format_ || format_->duration == AV_NOPTS_VALUE) return seekability_;
    double duration = format_->duration / 1e6;
    if (duration <= 0) return seekability_;
    const double start = 0.0;  // seek positions are relative to the file's start

    AVPacket* probe = av_packet_alloc();
    if (!probe) return seekability_;
    SetSampleReady(0);
    Seek(duration / 5 + start, SeekMode::kBackwardKey, streamIndex);
    if (GetPacket(probe) == 1) {
        seekability_ += 6;
    } else {
        SetSampleReady(0);
        Seek(1.0, SeekMode::kBackwardKey, streamIndex);
        if (GetPacket(probe) == 1) seekability_ += 6;
    }
    SetSampleReady(0);
    Seek(start, SeekMode::kBackwardKey, streamIndex);  // back to the start
    av_packet_free(&probe);
    return seekability_;
}

}  // namespace kx
