#include "engines/TimeClipCopy.h"

extern "C" {
#include <libavcodec/packet.h>
}

#include "demux/ITDemuxer.h"
#include "log/KX_Log.h"

namespace kx {

std::map<int, bool> VideoFlagsOf(const std::vector<SelectedStream>& streams) {
    std::map<int, bool> flags;
    for (const auto& stream : streams) flags[static_cast<int>(stream.streamIndex)] = stream.kind == 1;
    return flags;
}

void PositionForTimeClip(ITDemuxerControl* control, const ClipBounds& bounds, int capabilities) {
    if (bounds.fromFileStart || !(capabilities & kCanSeekByTime)) {
        control->Rewind();
        return;
    }
    control->Seek(static_cast<double>(bounds.start) / 10'000'000.0, bounds.anyFrame ? kSeekAny : kSeekBackwardKey, -1);
    EnsureHeldSample(control);
}

ClipOutcome CopyTimeClip(CStreamwright& converter, ITDemuxerControl* control, ClipGate& gate,
                         const ClipCounters& counters, const std::function<void(AVPacket*)>& write) {
    EnginePacket packet;
    EnginePacket held;
    for (;;) {
        NextPacket next = TakeNextPacket(converter, control, packet.get(), counters);
        if (next == NextPacket::kStopped) return ClipOutcome::kStopped;
        if (next == NextPacket::kRanOut) return ClipOutcome::kRanOut;
        switch (gate.Judge(packet.get())) {
        case PacketFate::kClipDone:
            LogFormat(u"exit,cliptype = time ,and lastpackpts = %I64d ,writepacketnum = %I64d\n", counters.lastPts,
                      counters.videoPackets);
            packet.Unref();
            return ClipOutcome::kEnded;
        case PacketFate::kSkip:
            break;
        case PacketFate::kWriteHeldFirst:
            if (av_packet_ref(held.get(), gate.HeldKeyFrame()) == 0) write(held.get());
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

}  // namespace kx
