#include "input/CTSingleAnalyze.h"

#include <algorithm>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/DemuxTime.h"
#include "input/FilePassKeyFrames.h"
#include "input/IndexedKeyFrames.h"
#include "input/KeyFrameCollector.h"
#include "input/KeyFrameIndexStore.h"
#include "input/KeyFramesAround.h"
#include "input/MediaInfoBuilder.h"
#include "input/PacketTimeFill.h"

namespace kx {

namespace {

// Reads only the scanned stream for the length of a scan, then puts every
// stream's discard setting back.
class ScanDiscardScope {
public:
    ScanDiscardScope(AVFormatContext* format, int streamIndex) : format_(format) {
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            saved_.push_back(format->streams[i]->discard);
            format->streams[i]->discard = static_cast<int>(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        }
    }
    ~ScanDiscardScope() { Restore(); }
    void Restore() {
        for (unsigned i = 0; i < format_->nb_streams && i < saved_.size(); ++i) format_->streams[i]->discard = saved_[i];
        saved_.clear();
    }
    ScanDiscardScope(const ScanDiscardScope&) = delete;
    ScanDiscardScope& operator=(const ScanDiscardScope&) = delete;

private:
    AVFormatContext* format_;
    std::vector<AVDiscard> saved_;
};

// Stream length in ticks; the file's when the stream does not say.
int64_t StreamLengthTicks(const AVFormatContext* format, const AVStream* stream) {
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return StreamTimeToTicks(stream->duration, stream->time_base);
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        return format->duration * (kTicksPerSecond / AV_TIME_BASE);
    return 0;
}

// Back to the start of the scanned stream, seeking by that stream: it is
// read in every case, and a container that starts another stream earlier
// (AAC priming in MP4) may put that stream at the video's first time.
void RewindToStart(AVFormatContext* format, int streamIndex) {
    av_seek_frame(format, streamIndex, -1000000, AVSEEK_FLAG_ANY);
}

}  // namespace

CTSingleAnalyze::CTSingleAnalyze() : index_(CreateKeyFrameIndex()) {}

CTSingleAnalyze::~CTSingleAnalyze() { FreeKeyFrameIndex(index_); }

void CTSingleAnalyze::Attach(AVFormatContext* context) {
    if (!context) return;
    if (context != format_) keyFrameRuns_ = {};
    format_ = context;
    ready_ = 1;
}

int CTSingleAnalyze::SetProgressCallback(int, AnalyzeProgressCallback callback, void* context) {
    if (!callback) return 0;
    callback_ = callback;
    callbackContext_ = context;
    return 1;
}

void CTSingleAnalyze::ReportProgress(int64_t percent) {
    if (callback_) callback_(kAnalyzeProgressCode, percent, 0, callbackContext_);
}

KeyFrameIndex* CTSingleAnalyze::GetKeyFrameIndex(int streamIndex) {
    cancel_.store(0);
    if (!format_ || !index_ || streamIndex < 0 || streamIndex >= static_cast<int>(format_->nb_streams)) return nullptr;
    AVStream* stream = format_->streams[streamIndex];
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) return nullptr;

    if (auto found = keyFramesFound_ ? keyFramesFound_->Find(streamIndex) : std::nullopt) {
        ReportProgress(0);
        int32_t keyFrameNumber = 0;
        for (const KeyFrameSighting& sighting : *found)
            AppendKeyFrame(index_, KeyFrameRecordOf(sighting, keyFrameNumber++, timeZero_));
        ReportProgress(100);
        return index_;
    }

    ScanDiscardScope discardScope(format_, streamIndex);
    if (auto listed = IndexedKeyFrames(format_, streamIndex, timeZero_, cancel_,
                                       [this](int64_t percent) { ReportProgress(percent); })) {
        for (const KeyFrameRecord& record : *listed) AppendKeyFrame(index_, record);
        discardScope.Restore();
        return FinishScan(streamIndex, false);
    }
    if (cancel_.load()) {
        discardScope.Restore();
        return FinishScan(streamIndex, true);
    }
    RewindToStart(format_, streamIndex);

    // Progress figures; an unknown rate or length leaves only the final 100.
    const int64_t fps = stream->r_frame_rate.den > 0 ? stream->r_frame_rate.num / stream->r_frame_rate.den : 0;
    const int64_t frameTicks = fps > 0 ? kTicksPerSecond / fps : 0;
    const int64_t total = StreamLengthTicks(format_, stream);
    const bool progressKnown = frameTicks > 0 && total > 0;
    const int64_t framesPerPercent = progressKnown ? (total / frameTicks) / 100 : 0;

    // Key frames of program streams may come without a time of their own.
    PacketTimeFill timeFill(format_);
    AVPacket* packet = av_packet_alloc();
    KeyFrameCollector collector(stream);
    int32_t keyFrameNumber = 0;
    int64_t sinceReport = 0;
    bool cancelled = false;
    while (packet) {
        if (cancel_.load()) {
            cancelled = true;
            break;
        }
        if (timeFill.Read(packet) < 0) break;
        if (packet->stream_index != streamIndex) {
            av_packet_unref(packet);
            continue;
        }
        ++sinceReport;
        if (collector.Take(packet))
            AppendKeyFrame(index_, KeyFrameRecordOf(collector.Last(), keyFrameNumber++, timeZero_));
        if (progressKnown && sinceReport >= framesPerPercent) {
            const int64_t shown = ShownTimeOf(packet, stream);
            int64_t t = shown == AV_NOPTS_VALUE ? 0 : StreamTimeToTicks(shown, stream->time_base) - timeZero_;
            sinceReport = 0;
            double percent = std::clamp(double(t) * 100.0 / double(total), 0.0, 100.0);
            ReportProgress(static_cast<int64_t>(percent));
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    discardScope.Restore();
    return FinishScan(streamIndex, cancelled);
}

std::optional<std::vector<KeyFrameRecord>> CTSingleAnalyze::GetKeyFramesAround(int streamIndex,
                                                                               const std::vector<int64_t>& times) {
    cancel_.store(0);
    if (!format_ || streamIndex < 0 || streamIndex >= static_cast<int>(format_->nb_streams)) return std::nullopt;
    if (format_->streams[streamIndex]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) return std::nullopt;
    if (auto found = keyFramesFound_ ? keyFramesFound_->Find(streamIndex) : std::nullopt) {
        std::vector<KeyFrameRecord> records;
        int32_t keyFrameNumber = 0;
        for (const KeyFrameSighting& sighting : *found)
            records.push_back(KeyFrameRecordOf(sighting, keyFrameNumber++, timeZero_));
        return records;
    }
    ScanDiscardScope discardScope(format_, streamIndex);
    auto records = KeyFramesAround(format_, streamIndex, timeZero_, times, cancel_, &keyFrameRuns_);
    discardScope.Restore();
    RewindToStart(format_, streamIndex);
    if (rewound_) rewound_();
    cancel_.store(0);
    return records;
}

KeyFrameIndex* CTSingleAnalyze::FinishScan(int streamIndex, bool cancelled) {
    if (cancelled) ResetKeyFrameIndex(index_);
    ReportProgress(100);
    RewindToStart(format_, streamIndex);  // the reader goes on from the start
    if (rewound_) rewound_();
    if (cancelled) {
        cancel_.store(0);
        return nullptr;
    }
    return index_;
}

StreamMediaInfo* CTSingleAnalyze::GetMediaInfo(int streamIndex) { return BuildStreamMediaInfo(format_, streamIndex); }

void CTSingleAnalyze::FreeMediaInfo(StreamMediaInfo* info) { FreeStreamMediaInfo(info); }

}  // namespace kx
