// The stream-mix engine: the first selected stream of every file, interleaved
// by presentation time into one output.
extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <memory>

#include "input/ITDemuxer.h"
#include "output/CTMuxer.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "task/CopySteps.h"
#include "task/Engines.h"
#include "task/OutputSteps.h"
#include "task/StreamDescriptions.h"

namespace kx {

namespace {

struct ReaderSlot {
    std::unique_ptr<EnginePacket> packet = std::make_unique<EnginePacket>();
    bool hasPacket = false;
    bool needsPacket = true;
    ITDemuxerControl* reader = nullptr;
    int64_t fileIndex = 0;
    int64_t zero = 0;  // the file time that becomes the output's 0
};

// Takes the next packet of every slot that needs one, then picks the held
// packet with the smallest pts (file order on ties). -1 when every input is exhausted.
int64_t SelectPacket(std::vector<ReaderSlot>& slots, const char16_t* firstPath, int64_t lastPts, int64_t videoPackets,
                     AVPacket* chosen) {
    size_t failures = 0;
    for (auto& slot : slots) {
        if (!slot.needsPacket) continue;
        if (slot.reader && slot.reader->GetPacket(slot.packet->get())) {
            slot.hasPacket = true;
            slot.needsPacket = false;
        } else {
            LogFormat(legacy::kMixInputEnded,
                      firstPath, lastPts, videoPackets);
            ++failures;
            slot.hasPacket = false;
        }
    }
    ReaderSlot* best = nullptr;
    for (auto& slot : slots)
        if (slot.hasPacket && (!best || slot.packet->get()->pts < best->packet->get()->pts)) best = &slot;
    if (failures >= slots.size() || !best) return -1;
    av_packet_unref(chosen);
    av_packet_move_ref(chosen, best->packet->get());
    best->hasPacket = false;
    best->needsPacket = true;
    return best->fileIndex;
}

}  // namespace

EngineEnd MixStreams(TaskHost& host, MergeState& state, std::vector<FileRecord>& files, CutPlacement placement,
               int64_t longest) {
    LogText(legacy::kMixBegin);
    if (files.empty()) return EngineEnd::kFinished;
    CTMuxer* output = state.output;
    const char16_t* firstPath = files.front().path.c_str();
    if (!output) {
        LogFormat(legacy::kMixNoOutput, firstPath,
                  static_cast<int32_t>(files.size()));
        return EngineEnd::kFinished;
    }
    for (auto& file : files) {
        if (!ControlOf(file)) {
            LogFormat(legacy::kMixNoReader,
                      file.path.c_str(), static_cast<int32_t>(file.selectedStreams.size()));
            return EngineEnd::kFinished;
        }
        if (!file.clips.empty() && file.clips.front().kind == ClipKind::kTime)
            LogFormat(legacy::kMixClipBegin,
                      file.clips.front().range.length, file.clips.front().range.start, file.path.c_str());
    }

    const std::map<int64_t, StreamKind> noKinds;
    const auto& kinds = state.streamKinds ? *state.streamKinds : noKinds;
    EnginePacket packet;
    std::vector<ReaderSlot> slots(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        FileRecord& file = files[i];
        ReaderSlot& slot = slots[i];
        slot.reader = ControlOf(file);
        slot.fileIndex = static_cast<int64_t>(i);
        int capabilities = slot.reader->CheckSeekable(-1);
        if (file.clips.empty() || file.selectedStreams.empty()) continue;
        ClipTask& first = file.clips.front();
        const SelectedStream& stream = file.selectedStreams.front();
        // A video stream starts where it starts: on the file's own clock, whose
        // 0 is the start of its selected stream.
        if (stream.kind == StreamKind::kVideo) first.range.start = 0;
        if (first.kind != ClipKind::kTime) continue;
        int64_t s = first.range.start;
        double seconds = static_cast<double>(s) / 10'000'000.0;
        if (s <= 0)
            slot.reader->Rewind();  // priming and pre-roll included
        else if (!file.opened)
            slot.reader->Seek(seconds, SeekMode::kAny, static_cast<int>(stream.streamIndex));
        else if (!(capabilities & kCanSeekByTime))
            ScanToClipStart(slot.reader, kinds, s, placement, file.selectedStreams);
        else
            slot.reader->Seek(seconds, placement == CutPlacement::kExact ? SeekMode::kAny : SeekMode::kBackwardKey, -1);
        // Every input's start lands on the output's 0, as a dub expects.
        slot.zero = std::max<int64_t>(s, 0);
    }

    for (auto& slot : slots) EnsureHeldSample(slot.reader);
    host.Notify(KX_NOTIFY_CLIP_BEGIN, nullptr, 0);
    int64_t lastPts = -1;
    int64_t videoPackets = 0;
    int32_t lastPercent = -1;
    const bool timed = !files.front().clips.empty() && files.front().clips.front().kind == ClipKind::kTime;
    EngineEnd result = EngineEnd::kFinished;
    for (;;) {
        host.WaitWhilePaused();
        if (host.StopRequested()) {
            result = EngineEnd::kStopped;
            break;
        }
        int64_t fileIndex = SelectPacket(slots, firstPath, lastPts, videoPackets, packet.get());
        if (fileIndex < 0) break;
        const int64_t zero = slots[fileIndex].zero;
        if (packet->pts != AV_NOPTS_VALUE) packet->pts -= zero;
        if (packet->dts != AV_NOPTS_VALUE) packet->dts -= zero;
        lastPts = packet->pts;
        state.byteCount += packet->size;
        if (packet->pts != AV_NOPTS_VALUE) state.endTime = packet->pts + packet->duration;
        int64_t outputNumber = OutputNumberOf(files[fileIndex].selectedStreams, packet->stream_index);
        if (outputNumber == -1) LogFormat(legacy::kPacketWithoutOutput, packet->stream_index);
        packet->stream_index = static_cast<int>(outputNumber);
        auto kind = kinds.find(outputNumber);
        if (kind != kinds.end() && kind->second == StreamKind::kVideo) ++videoPackets;
        WriteToOutput(host, output, static_cast<int32_t>(outputNumber), packet.get());
        packet.Unref();
        for (auto& slot : slots)
            if (slot.needsPacket) slot.reader->ReadNext();
        if (timed) {
            int32_t percent = PercentOf(static_cast<double>(state.endTime), static_cast<double>(longest), 100.0);
            if (percent > lastPercent) {
                host.Notify(KX_NOTIFY_PROGRESS, nullptr, percent);
                lastPercent = percent;
            }
        }
    }
    host.Notify(KX_NOTIFY_CLIP_END, nullptr, 0);
    return result;
}

}  // namespace kx
