// The split engine: one clip of one file into the clip's own output.
#include <algorithm>
#include <functional>
#include <optional>

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
#include "task/EdgeClipCopy.h"
#include "task/Engines.h"
#include "task/OutputSteps.h"
#include "task/OpenKeyClipStart.h"
#include "task/TimeClipCopy.h"

namespace kx {

namespace {

bool IsVideoKey(const std::map<int64_t, StreamKind>& kinds, int64_t key) {
    auto it = kinds.find(key);
    return it != kinds.end() && it->second == StreamKind::kVideo;
}

// A size clip: from where the reader stands until the payload reaches the
// size. Its 0 is the time it was positioned at (AV_NOPTS_VALUE: positioned by
// bytes, the first packet's time), so its streams keep their offsets; packets
// that ended before it are left to the piece before.
ClipOutcome CopySizeClip(TaskHost& host, ITDemuxerControl* control, const ClipTask& clip,
                     const std::map<int64_t, StreamKind>& kinds, CTMuxer* output, ClipCounters& counters,
                     int64_t zero, const std::function<void()>& reportProgress) {
    EnginePacket packet;
    for (;;) {
        NextPacket next = TakeNextPacket(host, control, packet.get(), counters);
        if (next != NextPacket::kGot) return next == NextPacket::kStopped ? ClipOutcome::kStopped : ClipOutcome::kRanOut;
        const bool video = IsVideoKey(kinds, packet->stream_index);
        if (zero == AV_NOPTS_VALUE) zero = EarliestTimestamp(packet.get());  // positioned by bytes: no time to go by
        if (zero > 0 && counters.bytes == 0 && packet->pts != AV_NOPTS_VALUE && packet->pts + packet->duration <= zero) {
            packet.Unref();
            control->ReadNext();
            continue;
        }
        if (SizeClipEndReached(clip, counters)) {
            packet.Unref();
            return ClipOutcome::kEnded;
        }
        counters.bytes += packet->size;
        if (packet->pts != AV_NOPTS_VALUE) {
            counters.lastPts = packet->pts - zero;
            packet->pts = counters.lastPts;
        }
        if (packet->dts != AV_NOPTS_VALUE) packet->dts -= zero;
        if (video) ++counters.videoPackets;
        WriteToOutput(host, output, packet->stream_index, packet.get());
        packet.Unref();
        control->ReadNext();
        reportProgress();
    }
}

// A size piece that follows on: cut like a time clip, from where the piece
// before ended (or its own start, in seconds) until its end is found.
ClipBounds PieceBounds(const FileRecord& file, const ClipRange& range) {
    ClipBounds bounds;
    bounds.start = file.nextPieceStart.value_or(std::max<int64_t>(range.start, 0) * 10'000'000);
    bounds.fromFileStart = !file.nextPieceStart && range.start <= 0;
    bounds.toFileEnd = true;
    return bounds;
}

}  // namespace

int32_t PercentOf(double numerator, double denominator, double scale) {
    if (!(denominator > 0)) return 0;
    double value = numerator * scale / denominator;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(value);
}

EngineEnd SplitClip(TaskHost& host, const SplitClipJob& job) {
    LogText(legacy::kSplitClipBegin);
    TaskCursor* cursor = job.cursor;
    FileRecord* file = job.file;
    const ClipTask& clip = *job.clip;
    const std::vector<SelectedStream>& streams = file->selectedStreams;
    ClipTask* stored = nullptr;
    if (cursor->clipIndex >= 0 && static_cast<size_t>(cursor->clipIndex) < file->clips.size())
        stored = &file->clips[cursor->clipIndex];
    const ClipRange& range = clip.range;
    const bool hasOutput = stored && stored->output;
    ITDemuxerControl* control = BeginClip(cursor, file->path.c_str(), hasOutput, file->input.get(), range);
    if (!control) return EngineEnd::kFinished;

    int capabilities = control->CheckSeekable(-1);
    const auto& kinds = stored->outputStreamKinds;
    CTMuxer* output = stored->output.get();
    int32_t weight = PercentOf(static_cast<double>(range.length), static_cast<double>(job.total), 100.0 * 100.0);
    int32_t lastClipPercent = -1;
    const int32_t base = *job.progressBase;
    int32_t overall = base;
    ClipOutcome outcome = ClipOutcome::kEnded;
    const bool timeClip = clip.kind == ClipKind::kTime;
    const CutPlacement placement = job.placement;
    const int firstStream = streams.empty() ? -1 : static_cast<int>(streams.front().streamIndex);

    host.Notify(KX_NOTIFY_CLIP_BEGIN, cursor, 0);

    ClipCounters counters;
    auto reportProgress = [&] {
        double x = timeClip ? static_cast<double>(counters.lastPts) : static_cast<double>(counters.bytes);
        int32_t p = PercentOf(x, static_cast<double>(range.length), 100.0 * 100.0);
        int32_t clipPercent = p / 100;
        overall = static_cast<int32_t>(p / 100.0 * weight / 10000.0 + base);
        if (clipPercent > lastClipPercent) {
            host.Notify(KX_NOTIFY_CLIP_PROGRESS, cursor, clipPercent);
            host.Notify(KX_NOTIFY_PROGRESS, cursor, overall);
            lastClipPercent = clipPercent;
        }
    };
    const bool piece = clip.kind == ClipKind::kSize && job.chain == SizeClipChain::kFollowOn;
    std::optional<EdgeClipEnd> edges;
    if (timeClip && placement == CutPlacement::kReencodeEdges) {
        edges = CopyClipWithEncodedEdges(host, EdgeClipJob{.control = control,
                                                           .file = file,
                                                           .range = range,
                                                           .output = output,
                                                           .capabilities = capabilities,
                                                           .counters = &counters,
                                                           .reportProgress = reportProgress,
                                                           .report = &stored->cutReport});
    }
    if (edges) {
        outcome = edges->outcome;
        if (output && outcome != ClipOutcome::kStopped)
            output->AddChapters(ClipChapters(*file, edges->bounds, edges->zero, 0));
    } else if (timeClip || piece) {
        ClipBounds bounds =
            piece ? PieceBounds(*file, range)
                  : TimeClipBounds(range, CutKeyFrames(*file), FileDurationTicks(*file), placement == CutPlacement::kExact);
        bounds.streamsStartTogether = output && output->StartsEveryStreamAtZero();
        ClipGate gate(bounds, StreamKindsOf(streams));
        // Reads ahead of the clip when it starts at an open group's key frame.
        const std::unique_ptr<OpenKeyClipStart> openStart =
            OpenKeyClipStart::For(host, control, *file, bounds, capabilities);
        PositionForTimeClip(control, bounds, capabilities);
        const int64_t zero = gate.Zero();
        // A piece (not the file's last) ends at the first key frame shown
        // after the last picture written once its payload reached the size.
        bool endFound = !piece || job.lastClip;
        int64_t lastVideoTime = INT64_MIN;
        outcome = CopyTimeClip(host, control, gate, counters, [&](AVPacket* p) {
            counters.bytes += p->size;
            if (!endFound) {
                if (IsVideoKey(kinds, p->stream_index) && p->pts != AV_NOPTS_VALUE)
                    lastVideoTime = std::max(lastVideoTime, p->pts);
                if (counters.bytes >= range.length && p->pts != AV_NOPTS_VALUE) {
                    gate.EndFromHere(lastVideoTime == INT64_MIN ? p->pts : lastVideoTime + 1,
                                     p->pts + std::max<int64_t>(p->duration, 1));
                    endFound = true;
                }
            }
            if (p->pts != AV_NOPTS_VALUE) {
                p->pts -= zero;
                counters.lastPts = p->pts;
            }
            if (p->dts != AV_NOPTS_VALUE) p->dts -= zero;
            if (IsVideoKey(kinds, p->stream_index)) ++counters.videoPackets;
            WriteToOutput(host, output, p->stream_index, p);
            reportProgress();
        }, openStart.get());
        ClipBounds ended = gate.Bounds();
        if (const auto next = gate.NextStart()) ended.end = *next;
        if (output) output->AddChapters(ClipChapters(*file, ended, zero, 0));
        if (piece) {
            file->nextPieceStart = gate.NextStart();
            file->piecesDone = outcome != ClipOutcome::kEnded || !file->nextPieceStart;
        }
        if (placement == CutPlacement::kReencodeEdges) stored->cutReport.copiedFrames = counters.videoPackets;
    } else {
        double position = static_cast<double>(range.start);
        int64_t zero = AV_NOPTS_VALUE;
        if (!file->opened) {
            control->Seek(position, SeekMode::kByte, firstStream);
        } else if (capabilities & (kCanSeekByTime | kCanSeekByByte)) {
            const bool byTime = placement == CutPlacement::kKeyFrame;
            control->Seek(position, byTime ? SeekMode::kBackwardKey : SeekMode::kByte, -1);
            if (byTime) zero = std::max<int64_t>(range.start, 0) * 10'000'000;  // seconds
        }
        EnsureHeldSample(control);
        outcome = CopySizeClip(host, control, clip, kinds, output, counters, zero, reportProgress);
    }

    *job.progressBase = overall;
    // A stopped clip is removed; one whose file cannot be finished fails the task.
    if (!CloseOutput(host, *stored, outcome != ClipOutcome::kStopped)) outcome = ClipOutcome::kStopped;
    if (outcome == ClipOutcome::kEnded) {
        host.Notify(KX_NOTIFY_PROGRESS, cursor, 100);
        host.Notify(KX_NOTIFY_CLIP_PROGRESS, cursor, 100);
    }
    const EngineEnd end = EndClip(host, cursor, outcome);
    if (outcome == ClipOutcome::kStopped) host.ReopenInputs();
    return end;
}

}  // namespace kx
