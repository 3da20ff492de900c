#include "task/EdgePlanKeys.h"

#include <algorithm>

#include "output/PacketEdits.h"
#include "platform/KX_Log.h"
#include "task/CopySteps.h"
#include "task/FileReaders.h"

namespace kx::edgecut {

std::unique_ptr<H264OpenKeySplice> SpliceFor(const VideoSource& video) {
    const auto size = static_cast<size_t>(std::max(0, video.parameters->extradata_size));
    return std::make_unique<H264OpenKeySplice>(video.parameters->extradata, size, video.form);
}

std::string SplicePacket(H264OpenKeySplice& splice, AVPacket* packet, bool leftOut) {
    std::optional<std::vector<uint8_t>> rewritten;
    if (!splice.Take(packet->data, static_cast<size_t>(std::max(0, packet->size)), leftOut, &rewritten))
        return splice.Problem();
    if (rewritten && !ReplacePayload(packet, rewritten->data(), rewritten->size())) return "out of memory";
    return {};
}

namespace {

constexpr int kMaxPicturesToSettle = 600;

}  // namespace

Lookup ReadKeyFrame(TaskHost& host, ITDemuxerControl* control, const VideoSource& video, int64_t time, bool canSeek,
                    SourceSetIds* ids) {
    Lookup lookup;
    PositionAtKey(control, time, canSeek);
    EnginePacket packet;
    for (int read = 0; !canSeek || read < kMaxPacketsToKeyFrame; ++read) {
        const Read step = ReadPacket(host, control, packet.get());
        if (step != Read::kGot) {
            lookup.stopped = step == Read::kStopped;
            break;
        }
        if (packet->stream_index == video.streamIndex) {
            CollectPacketSetIds(video, packet.get(), ids);
            if (IsKey(packet.get()) && Near(packet->pts, time)) {
                const int64_t delay = packet->dts != AV_NOPTS_VALUE ? packet->pts - packet->dts : 0;
                lookup.key = KeyPacket{packet->pts, delay, KindOfKey(video, packet.get())};
                break;
            }
        }
        packet.Unref();
        control->ReadNext();
    }
    packet.Unref();
    return lookup;
}

std::string CheckOpenKeySplice(TaskHost& host, ITDemuxerControl* control, const VideoSource& video, int64_t key,
                               int64_t clipEnd, bool* stopped) {
    std::unique_ptr<H264OpenKeySplice> splice = SpliceFor(video);
    EnginePacket packet;
    bool started = false;
    std::optional<std::vector<uint8_t>> rewritten;
    for (int pictures = 0; pictures < kMaxPicturesToSettle && !splice->Settled();) {
        const Read step = ReadPacket(host, control, packet.get());
        if (step != Read::kGot) {
            *stopped = step == Read::kStopped;
            break;
        }
        if (packet->stream_index == video.streamIndex) {
            started = started || (IsKey(packet.get()) && Near(packet->pts, key));
            if (started) {
                if (packet->dts != AV_NOPTS_VALUE && packet->dts >= clipEnd) break;
                const bool leftOut = packet->pts != AV_NOPTS_VALUE && packet->pts < key - kToleranceTicks;
                if (!splice->Take(packet->data, static_cast<size_t>(packet->size), leftOut, &rewritten))
                    return splice->Problem();
                ++pictures;
            }
        }
        packet.Unref();
        control->ReadNext();
    }
    packet.Unref();
    return started ? std::string{} : "the key frame at " + SecondsText(key) + " is not where the index places it";
}

namespace {

std::string NotIdrReason(int64_t time) {
    return "the key frame at " + SecondsText(time) +
           " is not an IDR picture (an open group of pictures): the pictures around it refer across the cut";
}

std::optional<int64_t> KeyFrameAfter(const std::vector<KeyFrameRecord>& keyFrames, int64_t t) {
    for (const auto& k : keyFrames)
        if (k.time > t + kToleranceTicks) return k.time;
    return std::nullopt;
}

}  // namespace

PlanKeys ReadPlanKeys(TaskHost& host, ITDemuxerControl* control, const FileRecord& file, EdgeCutPlan& plan,
                      const VideoSource& video, bool canSeek, SourceSetIds* ids) {
    PlanKeys keys;
    // HEVC's open groups are cut too: their leading pictures are encoded
    // again. Where copying ends, any key frame will do: the pictures before
    // it are copied, its leading pictures and those after it encoded.
    const bool openAllowed = video.IsHevc();
    const auto read = [&](int64_t time, std::optional<KeyPacket>* key) {
        if (keys.stopped || !keys.problem.empty()) return;
        const Lookup lookup = ReadKeyFrame(host, control, video, time, canSeek, ids);
        keys.stopped = lookup.stopped;
        if (lookup.stopped) return;
        if (!lookup.key)
            keys.problem = "the key frame at " + SecondsText(time) + " is not where the index places it";
        else
            *key = lookup.key;
    };
    if (plan.EncodesHead()) {
        read(KeyFrameAtOrBefore(file.keyFrames, plan.start), &keys.head);
        // An H.264 key frame of an open group is made an IDR picture, the
        // pictures after it renumbered, when their references allow; else
        // the head runs on to the next IDR picture inside the clip, when
        // there is one.
        const std::optional<int64_t> firstCopied = plan.copyFrom;
        std::string spliceProblem;
        while (plan.copyFrom && !keys.stopped && keys.problem.empty()) {
            read(*plan.copyFrom, &keys.copy);
            if (!keys.copy || keys.copy->kind == KeyKind::kIdr || openAllowed) break;
            const int64_t clipEnd = plan.toFileEnd ? INT64_MAX : plan.end;
            spliceProblem = CheckOpenKeySplice(host, control, video, *plan.copyFrom, clipEnd, &keys.stopped);
            if (spliceProblem.empty() || keys.stopped) break;
            LogFormat(u"Open group at %S kept whole: %S\n", SecondsText(*plan.copyFrom).c_str(), spliceProblem.c_str());
            keys.copy.reset();
            const std::optional<int64_t> next = KeyFrameAfter(file.keyFrames, *plan.copyFrom);
            if (!next || (!plan.toFileEnd && *next >= plan.end - kToleranceTicks)) {
                keys.problem = NotIdrReason(*firstCopied) + " (" + spliceProblem +
                               "); no key frame after it inside the clip is one";
                break;
            }
            plan.copyFrom = next;
        }
        if (plan.copyFrom && plan.encodeTailFrom) plan.encodeTailFrom = std::max(*plan.encodeTailFrom, *plan.copyFrom);
        if (plan.copyFrom && plan.endOnKey) read(plan.end, &keys.end);
    }
    if (plan.encodeTailFrom) read(*plan.encodeTailFrom, &keys.tail);
    return keys;
}

}  // namespace kx::edgecut
