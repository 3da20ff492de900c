#include "task/TimeClipCopy.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <set>

#include "input/ITDemuxer.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "task/FailureReport.h"
#include "task/OpenKeyClipStart.h"
#include "task/TaskHost.h"

namespace kx {

std::map<int, StreamKind> StreamKindsOf(const std::vector<SelectedStream>& streams) {
    std::map<int, StreamKind> kinds;
    for (const auto& stream : streams) kinds[static_cast<int>(stream.streamIndex)] = stream.kind;
    return kinds;
}

void PositionForTimeClip(ITDemuxerControl* control, const ClipBounds& bounds, int capabilities) {
    if (bounds.fromFileStart || !(capabilities & kCanSeekByTime)) {
        control->Rewind();
        return;
    }
    const SeekMode mode = bounds.anyFrame ? SeekMode::kAny : SeekMode::kBackwardKey;
    control->Seek(static_cast<double>(bounds.start) / 10'000'000.0, mode, -1);
    EnsureHeldSample(control);
}

ClipOutcome CopyTimeClip(TaskHost& host, ITDemuxerControl* control, ClipGate& gate,
                         const ClipCounters& counters, const std::function<void(AVPacket*)>& write,
                         OpenKeyClipStart* openStart) {
    EnginePacket packet;
    EnginePacket held;
    for (;;) {
        NextPacket next = TakeNextPacket(host, control, packet.get(), counters);
        if (next == NextPacket::kStopped) return ClipOutcome::kStopped;
        if (next == NextPacket::kRanOut) return ClipOutcome::kRanOut;
        const PacketFate fate = gate.Judge(packet.get());
        if (fate == PacketFate::kWriteHeldFirst && av_packet_ref(held.get(), gate.HeldKeyFrame()) < 0) held.Unref();
        if (openStart && ((held->data && !openStart->Pass(held.get(), fate)) || !openStart->Pass(packet.get(), fate))) {
            host.FailTask(FailureReport{"cannot copy the pictures after the clip's first key frame: " +
                                            openStart->Problem(),
                                        KX_E_FAIL});
            return ClipOutcome::kStopped;
        }
        switch (fate) {
        case PacketFate::kClipDone:
            LogFormat(legacy::kTimeClipEnded, counters.lastPts,
                      counters.videoPackets);
            packet.Unref();
            return ClipOutcome::kEnded;
        case PacketFate::kSkip:
            break;
        case PacketFate::kWriteHeldFirst:
            if (held->data) write(held.get());
            held.Unref();
            write(packet.get());
            break;
        case PacketFate::kWrite:
            write(packet.get());
            break;
        }
        packet.Unref();
        control->ReadNext();
    }
}

int64_t ClipLeadBeforeStart(TaskHost& host, ITDemuxerControl* control, const ClipBounds& bounds,
                            const std::map<int, StreamKind>& streams, const ClipCounters& counters) {
    // Past this decoding time nothing that comes later reaches before the start.
    constexpr int64_t kScanLimit = 10 * 10'000'000LL;
    ClipGate gate(bounds, streams);
    const int64_t zero = gate.Zero();
    int64_t earliest = zero;
    std::set<int> reached;  // streams that got to the clip's start
    EnginePacket packet;
    while (reached.size() < streams.size()) {
        if (TakeNextPacket(host, control, packet.get(), counters) != NextPacket::kGot) break;
        const PacketFate fate = gate.Judge(packet.get());
        if (fate == PacketFate::kClipDone) break;
        const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (fate != PacketFate::kSkip && time != AV_NOPTS_VALUE) {
            const auto stream = streams.find(packet->stream_index);
            const bool video = stream != streams.end() && stream->second == StreamKind::kVideo;
            earliest = std::min(earliest, video ? time : time + std::max<int64_t>(packet->duration, 0));
            if (time >= zero) reached.insert(packet->stream_index);
        }
        if (packet->dts != AV_NOPTS_VALUE && packet->dts > zero + kScanLimit) break;
        packet.Unref();
        control->ReadNext();
    }
    packet.Unref();
    return zero - earliest;
}

}  // namespace kx
