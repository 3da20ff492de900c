// The merge engine: one clip of one file appended to the shared output.
extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

#include "converter/CStreamwright.h"
#include "converter/DemuxerHolder.h"
#include "demux/ITDemuxer.h"
#include "engines/CopySteps.h"
#include "engines/Engines.h"
#include "engines/InBandParameterSets.h"
#include "log/KX_Log.h"
#include "mux/CTMuxer.h"

namespace kx {

namespace {
constexpr int64_t kPtsAheadLimit = 100'000'000;  // 10 s
enum class Outcome { kStopped, kRanOut, kEnded };
}  // namespace

int MergeClip(CStreamwright& converter, TaskCursor* cursor, int64_t timeOffset, CTMuxer* output, uint32_t opened,
              DemuxerHolder* holder, const ClipTask& clip, const std::vector<SelectedStream>& streams, int64_t total,
              const std::vector<uint8_t>& keyFramePrefix) {
    LogText(u"\n\n ++++++++++++++ Merge Clip  Begin  +++++++++++++++ \n\n");
    FileRecord* file = converter.FindFile(cursor->fileId);
    const char16_t* path = file ? file->path.c_str() : u"";
    const ClipRange& range = clip.range;
    ITDemuxerControl* control = BeginClip(cursor, path, output != nullptr, holder, range);
    if (!control) return 1;

    // Video packets are counted with the shared output's kind map (first clip of the first file).
    std::vector<FileRecord>& files = converter.Files();
    const std::map<int64_t, int32_t> noKinds;
    const auto& kinds = (!files.empty() && !files.front().clips.empty()) ? files.front().clips.front().outputStreamKinds
                                                                          : noKinds;
    EnginePacket packet;
    bool zeroFixed = false;
    int64_t ptsZero = -1;
    int64_t dtsZero = -1;
    int32_t percent = 0;
    int32_t lastPercent = -1;
    const bool timeClip = clip.kind == 0;
    const int firstStream = streams.empty() ? -1 : static_cast<int>(streams.front().streamIndex);
    Outcome outcome = Outcome::kEnded;

    bool positioned = true;
    if (timeClip) {
        if (!opened)
            control->Seek(static_cast<double>(range.start) / 10'000'000.0, 2, firstStream);
        else
            positioned = ScanToClipStart(control, kinds, range.start, converter.TaskOption(), &streams);
    } else if (!opened) {
        control->Seek(static_cast<double>(range.start), 1, firstStream);
    }

    converter.Notify(KX_NOTIFY_CLIP_BEGIN, cursor, 0);
    if (!positioned)
        outcome = Outcome::kRanOut;
    else
        EnsureHeldSample(control);

    ClipCounters counters;
    while (positioned) {
        NextPacket next = TakeNextPacket(converter, control, packet.get(), counters);
        if (next != NextPacket::kGot) {
            outcome = next == NextPacket::kStopped ? Outcome::kStopped : Outcome::kRanOut;
            break;
        }
        int64_t earliest = EarliestTimestamp(packet.get());
        if (!zeroFixed && earliest != AV_NOPTS_VALUE) {
            zeroFixed = true;
            ptsZero = dtsZero = earliest;
            if (packet->pts - packet->dts > kPtsAheadLimit) {
                ptsZero = packet->pts;
                dtsZero = packet->dts;
            }
        }
        if (ClipEndReached(clip, counters, packet.get(), false)) {
            packet.Unref();
            break;
        }
        converter.runningByteCount += packet->size;
        counters.bytes += packet->size;
        bool ptsKnown = packet->pts != AV_NOPTS_VALUE;
        bool dtsKnown = packet->dts != AV_NOPTS_VALUE;
        if (ptsKnown && dtsKnown) {
            counters.lastPts = packet->pts - ptsZero;
            packet->pts = counters.lastPts + timeOffset;
            packet->dts = packet->dts - dtsZero + timeOffset;
            converter.runningEndTime = packet->pts + packet->duration;
        } else if (ptsKnown) {
            // Only one timestamp known: re-based by its own zero point
            // so that it stays beside its neighbours.
            packet->pts = packet->pts - ptsZero + timeOffset;
        } else if (dtsKnown) {
            packet->dts = packet->dts - dtsZero + timeOffset;
        }
        int64_t outputNumber = OutputNumberOf(streams, packet->stream_index);
        if (outputNumber == -1) LogFormat(u"packet stream index = %d \n", -1);
        packet->stream_index = static_cast<int>(outputNumber);
        auto kind = kinds.find(outputNumber);
        if (kind != kinds.end() && kind->second == 1) {
            ++counters.videoPackets;
            if (packet->flags & AV_PKT_FLAG_KEY) PrependToPacket(packet.get(), keyFramePrefix);
        }
        output->WritePacket(static_cast<int32_t>(outputNumber), packet.get());
        packet.Unref();
        control->ReadNext();

        double done = timeClip ? static_cast<double>(converter.runningEndTime)
                               : static_cast<double>(converter.runningByteCount);
        percent = PercentOf(done, static_cast<double>(total), 100.0);
        if (percent > lastPercent) {
            converter.Notify(KX_NOTIFY_PROGRESS, nullptr, percent);
            lastPercent = percent;
        }
    }

    switch (outcome) {
    case Outcome::kStopped:
        converter.Notify(KX_NOTIFY_CLIP_END, cursor, 0);
        return 0;
    case Outcome::kRanOut:
        converter.Notify(KX_NOTIFY_CLIP_END, cursor, 0);
        converter.Notify(KX_NOTIFY_INPUT_ENDED, cursor, 0);
        return 1;
    case Outcome::kEnded:
        converter.Notify(KX_NOTIFY_PROGRESS, nullptr, percent);
        converter.Notify(KX_NOTIFY_CLIP_END, cursor, 0);
        return 1;
    }
    return 1;
}

}  // namespace kx
