#include "input/IndexedKeyFrames.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/DemuxTime.h"
#include "input/VideoKeyFrame.h"
#include "media/OwnedPacket.h"

namespace kx {

namespace {

// Groups read packet by packet to check the table against the bitstream.
constexpr int kCheckedGroups = 3;
// A table that marks more than one sample in this many is read faster whole.
constexpr int64_t kMostKeysPerSamples = 8;
// The MP4 reader takes a seek's time for a shown time and moves it back by
// the stream's composition delay, so it lands a few samples early (pictures
// shown later than decoded): it reads on, at most this far, to the sample.
constexpr int kMostSamplesAfterSeek = 64;

bool IsMovReader(const AVFormatContext* format) {
    return format->iformat && format->iformat->name && std::strncmp(format->iformat->name, "mov,", 4) == 0;
}

// The next packet of the stream (the others are discarded by the caller).
bool ReadStreamPacket(AVFormatContext* format, int streamIndex, AVPacket* packet) {
    for (;;) {
        av_packet_unref(packet);
        if (av_read_frame(format, packet) < 0) return false;
        if (packet->stream_index == streamIndex) return true;
    }
}

// The sample of the stream decoded at `dts`, read after a seek to it.
bool ReadSampleAt(AVFormatContext* format, int streamIndex, int64_t dts, AVPacket* packet) {
    if (av_seek_frame(format, streamIndex, dts, AVSEEK_FLAG_ANY) < 0) return false;
    for (int step = 0; step < kMostSamplesAfterSeek; ++step) {
        if (!ReadStreamPacket(format, streamIndex, packet) || packet->dts > dts) return false;
        if (packet->dts == dts) return true;
    }
    return false;
}

KeyFrameRecord RecordOf(const AVPacket* packet, const AVStream* stream, int64_t timeZero, int32_t keyNumber,
                        int64_t sample) {
    KeyFrameRecord record{};
    record.keyFrameNumber = keyNumber;
    const int64_t shown = ShownTimeOf(packet, stream);
    record.time = shown == AV_NOPTS_VALUE ? 0 : StreamTimeToTicks(shown, stream->time_base) - timeZero;
    record.frameNumber = sample;
    return record;
}

}  // namespace

std::optional<std::vector<KeyFrameRecord>> IndexedKeyFrames(AVFormatContext* format, int streamIndex,
                                                            int64_t timeZero, const std::atomic<int>& cancel,
                                                            const std::function<void(int64_t)>& progress) {
    if (!format || !IsMovReader(format)) return std::nullopt;
    AVStream* stream = format->streams[streamIndex];
    const int samples = avformat_index_get_entries_count(stream);
    if (samples <= 0 || stream->nb_frames != samples) return std::nullopt;  // fragmented: the table is partial
    std::vector<int> keys;
    for (int i = 0; i < samples; ++i)
        if (avformat_index_get_entry(stream, i)->flags & AVINDEX_KEYFRAME) keys.push_back(i);
    if (keys.empty() || static_cast<int64_t>(keys.size()) * kMostKeysPerSamples > samples) return std::nullopt;

    const AVCodecID codec = stream->codecpar->codec_id;
    const BitstreamForm form = BitstreamFormOfStream(stream->codecpar);
    const OwnedPacket holder = NewPacket();
    AVPacket* packet = holder.get();
    if (!packet) return std::nullopt;
    std::vector<KeyFrameRecord> records;

    // The first groups, packet by packet, from the start.
    const int checkedEnd = keys.size() > kCheckedGroups ? keys[kCheckedGroups] : samples;
    av_seek_frame(format, streamIndex, -1000000, AVSEEK_FLAG_ANY);
    for (int sample = 0; sample < checkedEnd; ++sample) {
        if (!ReadStreamPacket(format, streamIndex, packet)) return std::nullopt;
        const AVIndexEntry* entry = avformat_index_get_entry(stream, sample);
        if (packet->dts != entry->timestamp) return std::nullopt;
        const bool scanKey = (packet->flags & AV_PKT_FLAG_KEY) ||
                             IsKeyFrameByBitstream(codec, packet->data, packet->size, form);
        if (scanKey != ((entry->flags & AVINDEX_KEYFRAME) != 0)) return std::nullopt;
        if (scanKey) records.push_back(RecordOf(packet, stream, timeZero, static_cast<int32_t>(records.size()), sample));
    }

    // The rest: one key frame at a time, where the table puts it.
    int64_t lastPercent = 0;
    for (size_t k = records.size(); k < keys.size(); ++k) {
        if (cancel.load()) return std::nullopt;
        const AVIndexEntry* entry = avformat_index_get_entry(stream, keys[k]);
        if (!ReadSampleAt(format, streamIndex, entry->timestamp, packet) || !(packet->flags & AV_PKT_FLAG_KEY))
            return std::nullopt;
        records.push_back(RecordOf(packet, stream, timeZero, static_cast<int32_t>(k), keys[k]));
        const auto percent = static_cast<int64_t>((k + 1) * 100 / keys.size());
        if (progress && percent > lastPercent) progress(lastPercent = percent);
    }
    return records;
}

}  // namespace kx
