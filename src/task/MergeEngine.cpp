// The merge engine: one clip of one file appended to the shared output.
#include <functional>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

#include "input/ITDemuxer.h"
#include "output/CTMuxer.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "task/ClipBounds.h"
#include "task/ClipChapters.h"
#include "task/CopySteps.h"
#include "task/Engines.h"
#include "task/InBandParameterSets.h"
#include "task/OutputSteps.h"
#include "task/OpenKeyClipStart.h"
#include "task/TimeClipCopy.h"

namespace kx {

namespace {
constexpr int64_t kPtsAheadLimit = 100'000'000;  // 10 s

// Where a merged clip ends: after its last shown video frame, or its last
// audio packet when it has no video. A frame without a duration lasts as long
// as the shortest step between the frames seen.
class ClipEnd {
public:
    void Add(bool video, int64_t pts, int64_t duration) {
        if (pts == AV_NOPTS_VALUE) return;
        Track& track = video ? video_ : other_;
        if (track.any && pts != track.lastPts) {
            int64_t step = pts > track.lastPts ? pts - track.lastPts : track.lastPts - pts;
            if (track.step == 0 || step < track.step) track.step = step;
        }
        track.lastPts = pts;
        int64_t end = pts + (duration > 0 ? duration : track.step);
        if (!track.any || end > track.end) track.end = end;
        track.any = true;
    }
    int64_t Time(int64_t fallback) const { return video_.any ? video_.end : other_.any ? other_.end : fallback; }

private:
    struct Track {
        bool any = false;
        int64_t end = 0;
        int64_t lastPts = 0;
        int64_t step = 0;
    };
    Track video_;
    Track other_;
};

// A size clip: from where the reader stands until its payload reaches the size.
ClipOutcome CopySizeClip(TaskHost& host, MergeState& state, ITDemuxerControl* control, const ClipTask& clip,
                     ClipCounters& counters, int64_t timeOffset, const std::function<bool(AVPacket*)>& route,
                     const std::function<void()>& reportProgress) {
    EnginePacket packet;
    bool zeroFixed = false;
    int64_t ptsZero = -1;
    int64_t dtsZero = -1;
    for (;;) {
        NextPacket next = TakeNextPacket(host, control, packet.get(), counters);
        if (next != NextPacket::kGot) return next == NextPacket::kStopped ? ClipOutcome::kStopped : ClipOutcome::kRanOut;
        int64_t earliest = EarliestTimestamp(packet.get());
        if (!zeroFixed && earliest != AV_NOPTS_VALUE) {
            zeroFixed = true;
            ptsZero = dtsZero = earliest;
            if (packet->pts - packet->dts > kPtsAheadLimit) {
                ptsZero = packet->pts;
                dtsZero = packet->dts;
            }
        }
        if (SizeClipEndReached(clip, counters)) {
            packet.Unref();
            return ClipOutcome::kEnded;
        }
        state.byteCount += packet->size;
        counters.bytes += packet->size;
        bool ptsKnown = packet->pts != AV_NOPTS_VALUE;
        bool dtsKnown = packet->dts != AV_NOPTS_VALUE;
        if (ptsKnown && dtsKnown) {
            counters.lastPts = packet->pts - ptsZero;
            packet->pts = counters.lastPts + timeOffset;
            packet->dts = packet->dts - dtsZero + timeOffset;
            state.endTime = packet->pts + packet->duration;
        } else if (ptsKnown) {
            packet->pts = packet->pts - ptsZero + timeOffset;
        } else if (dtsKnown) {
            packet->dts = packet->dts - dtsZero + timeOffset;
        }
        route(packet.get());
        packet.Unref();
        control->ReadNext();
        reportProgress();
    }
}

}  // namespace

EngineEnd MergeClip(TaskHost& host, MergeState& state, const MergeClipJob& job) {
    LogText(legacy::kMergeClipBegin);
    TaskCursor* cursor = job.cursor;
    const FileRecord* file = job.file;
    const ClipTask& clip = *job.clip;
    const std::vector<SelectedStream>& streams = file->selectedStreams;
    const std::vector<uint8_t>& keyFramePrefix = *job.keyFramePrefix;
    // The clip's own start lands on the end of what was written before.
    const int64_t timeOffset = state.endTime;
    CTMuxer* output = state.output;
    const ClipRange& range = clip.range;
    ITDemuxerControl* control = BeginClip(cursor, file->path.c_str(), output != nullptr, file->input.get(), range);
    if (!control) return EngineEnd::kFinished;

    // Video packets are counted with the shared output's kinds.
    const std::map<int64_t, StreamKind> noKinds;
    const auto& kinds = state.streamKinds ? *state.streamKinds : noKinds;
    const int firstStream = streams.empty() ? -1 : static_cast<int>(streams.front().streamIndex);
    int32_t percent = 0;
    int32_t lastPercent = -1;
    const bool timeClip = clip.kind == ClipKind::kTime;
    ClipOutcome outcome = ClipOutcome::kEnded;
    ClipCounters counters;
    auto reportProgress = [&] {
        double done = timeClip ? static_cast<double>(state.endTime)
                               : static_cast<double>(state.byteCount);
        percent = PercentOf(done, static_cast<double>(job.total), 100.0);
        if (percent > lastPercent) {
            host.Notify(KX_NOTIFY_PROGRESS, nullptr, percent);
            lastPercent = percent;
        }
    };
    // Routes a packet to its output stream and writes it; true for video.
    auto route = [&](AVPacket* p) {
        int64_t outputNumber = OutputNumberOf(streams, p->stream_index);
        if (outputNumber == -1) LogFormat(legacy::kPacketWithoutOutput, p->stream_index);
        p->stream_index = static_cast<int>(outputNumber);
        auto kind = kinds.find(outputNumber);
        bool video = kind != kinds.end() && kind->second == StreamKind::kVideo;
        if (video) {
            ++counters.videoPackets;
            if (p->flags & AV_PKT_FLAG_KEY) PrependToPacket(p, keyFramePrefix);
        }
        WriteToOutput(host, output, static_cast<int32_t>(outputNumber), p);
        return video;
    };

    if (timeClip) {
        const ClipBounds bounds =
            TimeClipBounds(range, CutKeyFrames(*file), FileDurationTicks(*file), job.placement == CutPlacement::kExact);
        ClipGate gate(bounds, StreamKindsOf(streams));
        const int capabilities = control->CheckSeekable(-1);
        PositionForTimeClip(control, bounds, capabilities);
        // After a join nothing of the clip may land before the end of what
        // was written before (sound may overlap it by one packet): pre-roll
        // an edit list hid is shown after the join, as MP4 and Matroska
        // cannot hide pictures in the middle of a stream.
        int64_t lead = 0;
        if (timeOffset > 0) {
            lead = ClipLeadBeforeStart(host, control, bounds, StreamKindsOf(streams), counters);
            PositionForTimeClip(control, bounds, capabilities);
        }
        // Reads ahead of the clip when it starts at an open group's key frame.
        const std::unique_ptr<OpenKeyClipStart> openStart =
            OpenKeyClipStart::For(host, control, *file, bounds, capabilities);
        PositionForTimeClip(control, bounds, capabilities);
        host.Notify(KX_NOTIFY_CLIP_BEGIN, cursor, 0);
        const int64_t shift = timeOffset - gate.Zero() + lead;
        ClipEnd end;
        outcome = CopyTimeClip(host, control, gate, counters, [&](AVPacket* p) {
            state.byteCount += p->size;
            counters.bytes += p->size;
            if (p->pts != AV_NOPTS_VALUE) {
                counters.lastPts = p->pts - gate.Zero();
                p->pts += shift;
            }
            if (p->dts != AV_NOPTS_VALUE) p->dts += shift;
            const int64_t pts = p->pts;
            const int64_t duration = p->duration;
            bool video = route(p);
            end.Add(video, pts, duration);
            state.endTime = end.Time(timeOffset);
            reportProgress();
        }, openStart.get());
        if (output) output->AddChapters(ClipChapters(*file, bounds, gate.Zero(), timeOffset + lead));
    } else {
        if (!file->opened) control->Seek(static_cast<double>(range.start), SeekMode::kByte, firstStream);
        host.Notify(KX_NOTIFY_CLIP_BEGIN, cursor, 0);
        EnsureHeldSample(control);
        outcome = CopySizeClip(host, state, control, clip, counters, timeOffset, route, reportProgress);
    }

    if (outcome == ClipOutcome::kEnded) host.Notify(KX_NOTIFY_PROGRESS, nullptr, percent);
    return EndClip(host, cursor, outcome);
}

}  // namespace kx
