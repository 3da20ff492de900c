#include "task/CopySteps.h"

#include <algorithm>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

#include "KX_Remuxion.h"
#include "input/CTMediaInfo.h"
#include "input/DemuxerHolder.h"
#include "input/ITDemuxer.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "task/TaskHost.h"

namespace kx {

const std::vector<KeyFrameRecord>& CutKeyFrames(const FileRecord& file) {
    return file.keyFrames.empty() ? file.keyFramesNearCuts : file.keyFrames;
}

int64_t SnapToKeyFrame(const std::vector<KeyFrameRecord>& keyFrames, int64_t t) {
    if (keyFrames.empty()) return t;
    int32_t lo = 0;
    int32_t hi = static_cast<int32_t>(keyFrames.size()) - 1;
    while (hi - lo > 1) {
        int32_t mid = (lo + hi) / 2;
        if (keyFrames[mid].time == t) return t;
        if (keyFrames[mid].time < t)
            lo = mid;
        else
            hi = mid;
    }
    return (t - keyFrames[lo].time < keyFrames[hi].time - t) ? keyFrames[lo].time : keyFrames[hi].time;
}

int64_t OutputNumberOf(const std::vector<SelectedStream>& streams, int64_t sourceIndex) {
    for (const auto& stream : streams)
        if (stream.streamIndex == sourceIndex) return stream.outputNumber;
    LogText(legacy::kNoOutputStream);
    return -1;
}

int64_t FileDurationTicks(const FileRecord& file) {
    if (!file.input || !file.input->mediaInfo) return 0;
    const FileMediaInfo* info = file.input->mediaInfo->GetMediainfo();
    if (!info) return 0;
    return static_cast<int64_t>(info->duration * 10'000'000.0);
}

void EnsureDefaultClip(FileRecord& file) {
    if (!file.clips.empty()) return;
    ClipTask clip;
    clip.kind = ClipKind::kTime;
    clip.range = ClipRange{0, FileDurationTicks(file), 0};
    file.clips.push_back(std::move(clip));
}

ITDemuxerControl* BeginClip(const TaskCursor* cursor, const char16_t* path, bool hasOutput, DemuxerHolder* holder,
                            const ClipRange& range) {
    int32_t clipNumber = static_cast<int32_t>(cursor->clipIndex);
    if (!hasOutput) {
        LogFormat(legacy::kClipNoOutput, path, clipNumber);
        return nullptr;
    }
    ITDemuxerControl* control = holder && holder->demuxer ? holder->demuxer->GetControl() : nullptr;
    if (!control) {
        LogFormat(legacy::kClipNoReader, path, clipNumber);
        return nullptr;
    }
    LogFormat(legacy::kClipBegin, cursor->clipIndex,
              range.start, path);
    return control;
}

NextPacket TakeNextPacket(TaskHost& host, ITDemuxerControl* control, AVPacket* packet,
                          const ClipCounters& counters) {
    host.WaitWhilePaused();
    if (host.StopRequested()) return NextPacket::kStopped;
    if (control->GetPacket(packet)) return NextPacket::kGot;
    LogFormat(legacy::kTimeClipInputEnded,
              counters.lastPts, counters.videoPackets);
    return NextPacket::kRanOut;
}

bool SizeClipEndReached(const ClipTask& clip, const ClipCounters& counters) {
    if (counters.bytes < clip.range.length) return false;
    LogFormat(legacy::kSizeClipEnded, counters.bytes, counters.lastPts);
    return true;
}

int64_t EarliestTimestamp(const AVPacket* packet) { return std::min(packet->pts, packet->dts); }

void EnsureHeldSample(ITDemuxerControl* control) {
    if (control && !control->HasSample()) control->ReadNext();
}

EnginePacket::EnginePacket() : packet_(av_packet_alloc()) {}
EnginePacket::~EnginePacket() { av_packet_free(&packet_); }
void EnginePacket::Unref() { av_packet_unref(packet_); }

bool ScanToClipStart(ITDemuxerControl* control, const std::map<int64_t, StreamKind>& kinds, int64_t start,
                     CutPlacement placement, const std::vector<SelectedStream>& streams) {
    EnginePacket packet;
    control->ReadNext();
    while (control->GetPacket(packet.get())) {
        auto kind = kinds.find(OutputNumberOf(streams, packet->stream_index));
        bool qualifies = kind != kinds.end() && kind->second == StreamKind::kVideo && packet->pts >= start &&
                         (placement == CutPlacement::kExact || (packet->flags & AV_PKT_FLAG_KEY));
        packet.Unref();
        // A qualifying packet stays held: the copy loop's GetPacket hands it out again.
        if (qualifies) return true;
        control->ReadNext();
    }
    return false;
}

}  // namespace kx
