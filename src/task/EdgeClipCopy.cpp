#include "task/EdgeClipCopy.h"

#include <algorithm>
#include <cstdio>
#include <memory>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

#include "input/ITDemuxer.h"
#include "input/SourceStream.h"
#include "media/PictureReencoder.h"
#include "output/CTMuxer.h"
#include "output/H264OpenKeySplice.h"
#include "output/H264ParameterSetIds.h"
#include "output/HevcParameterSetIds.h"
#include "platform/KX_Log.h"
#include "task/ClipGate.h"
#include "task/EdgeCutPlan.h"
#include "task/EdgeEncodingPlan.h"
#include "task/EdgePlanKeys.h"
#include "task/EdgeSource.h"
#include "task/FailureReport.h"
#include "task/FileReaders.h"
#include "task/OutputSteps.h"
#include "task/StreamDescriptions.h"
#include "task/TaskHost.h"

namespace kx {

namespace {

using namespace edgecut;

enum class VideoPhase { kBeforeCopy, kCopying, kTail, kDone };

// The clip's pass over the file once the head is encoded: sound and
// subtitles through a gate, the video copied between the plan's key frames
// and its tail encoded again.
class EdgeClipPass {
public:
    EdgeClipPass(TaskHost& host, const EdgeClipJob& job, const EdgeCutPlan& plan, const VideoSource& video,
                 const EncoderSettings& settings, std::optional<KeyPacket> tailKey, std::optional<int64_t> preRoll,
                 int64_t zero, bool spliceOpenKey)
        : splice_(spliceOpenKey ? SpliceFor(video) : nullptr),
          host_(host),
          job_(job),
          plan_(plan),
          video_(video),
          settings_(settings),
          tailKey_(tailKey),
          preRoll_(preRoll),
          zero_(zero) {}

    // positionAt: the key frame the pass reads from (the head's, or the first copied).
    ClipOutcome Run(const ClipBounds& bounds, int64_t positionAt, std::vector<OwnedPacket> head) {
        std::map<int, StreamKind> others = StreamKindsOf(job_.file->selectedStreams);
        others.erase(video_.streamIndex);
        ClipGate gate(bounds, others);
        bool othersDone = others.empty();
        if (bounds.fromFileStart)
            job_.control->Rewind();
        else
            PositionAtKey(job_.control, positionAt, (job_.capabilities & kCanSeekByTime) != 0);
        for (auto& packet : head) WriteEncoded(packet.get());
        phase_ = !plan_.copyFrom       ? VideoPhase::kDone
                 : plan_.fromFileStart ? VideoPhase::kCopying
                                       : VideoPhase::kBeforeCopy;
        EnginePacket packet;
        for (;;) {
            if (phase_ == VideoPhase::kDone && othersDone) return ClipOutcome::kEnded;
            const Read step = ReadPacket(host_, job_.control, packet.get());
            if (step == Read::kStopped) return ClipOutcome::kStopped;
            if (step == Read::kRanOut) {
                FinishTail();
                LogFormat(u"Clip with encoded edges: the input ended (%lld video pictures)\n",
                          static_cast<long long>(job_.counters->videoPackets));
                return ClipOutcome::kRanOut;
            }
            if (packet->stream_index == video_.streamIndex) {
                TakeVideo(packet.get());
            } else if (const PacketFate fate = gate.Judge(packet.get()); fate == PacketFate::kWrite) {
                Write(packet.get(), false);
            } else if (fate == PacketFate::kClipDone) {
                othersDone = true;
            }
            packet.Unref();
            job_.control->ReadNext();
        }
    }

private:
    void Write(AVPacket* packet, bool video) {
        ClipCounters& counters = *job_.counters;
        if (packet->pts != AV_NOPTS_VALUE) {
            packet->pts -= zero_;
            counters.lastPts = packet->pts;
        }
        if (packet->dts != AV_NOPTS_VALUE) packet->dts -= zero_;
        counters.bytes += packet->size;
        if (video) ++counters.videoPackets;
        WriteToOutput(host_, job_.output, packet->stream_index, packet);
        job_.reportProgress();
    }

    void WriteEncoded(AVPacket* packet) {
        packet->stream_index = video_.streamIndex;
        Write(packet, true);
    }

    void TakeVideo(AVPacket* packet) {
        const int64_t pts = packet->pts;
        if (phase_ == VideoPhase::kBeforeCopy) {
            if (!IsKey(packet) || !Near(pts, *plan_.copyFrom)) return;
            phase_ = VideoPhase::kCopying;
        }
        if (phase_ == VideoPhase::kCopying) {
            if (preRoll_ && !tail_ && IsKey(packet) && Near(pts, *preRoll_)) OpenTail(INT64_MAX);
            if (plan_.encodeTailFrom && IsKey(packet) && Near(pts, *plan_.encodeTailFrom)) {
                StartTail();
            } else if (!plan_.toFileEnd && !plan_.encodeTailFrom && IsKey(packet) && pts != AV_NOPTS_VALUE &&
                       pts >= plan_.end - kToleranceTicks) {
                phase_ = VideoPhase::kDone;
                return;
            } else {
                // The leading pictures of the first copied key frame belong to the clip before.
                const bool leading =
                    !plan_.fromFileStart && pts != AV_NOPTS_VALUE && pts < *plan_.copyFrom - kToleranceTicks;
                if (splice_ && !Splice(packet, leading)) return;
                if (leading) return;
                // Decoded ahead for the tail, which may encode pictures that refer to these.
                if (tail_ && !tail_->Feed(packet)) FailTail(tail_->Problem());
                if (pts != AV_NOPTS_VALUE) maxCopiedPts_ = std::max(maxCopiedPts_.value_or(pts), pts);
                if (packet->dts != AV_NOPTS_VALUE) lastCopiedDts_ = packet->dts;
                Write(packet, true);
                ++job_.report->copiedFrames;
                return;
            }
        }
        if (phase_ != VideoPhase::kTail) return;
        if (tailEnd_.Passed(packet)) {
            FinishTail();
            return;
        }
        if (!tail_->Feed(packet)) {
            FinishTail();
            return;
        }
        for (auto& encoded : tail_->TakeEncoded()) WriteEncoded(encoded.get());
    }

    // Carries a copied picture over into the stream that starts at the
    // rewritten key frame.
    bool Splice(AVPacket* packet, bool leftOut) {
        const std::string problem = SplicePacket(*splice_, packet, leftOut);
        if (problem.empty()) return true;
        phase_ = VideoPhase::kDone;
        host_.FailTask(FailureReport{"cannot copy the pictures after the key frame at " +
                                         SecondsText(*plan_.copyFrom) + ": " + problem,
                                     KX_E_FAIL});
        return false;
    }

    void OpenTail(int64_t from) {
        std::string problem;
        const PictureReencoder::Window window{from, plan_.end, tailKey_ ? tailKey_->delay : 0};
        tail_ = PictureReencoder::Open(settings_, window, &problem);
        if (!tail_) FailTail(problem);
    }

    // Encoding starts at the tail's key frame, or, decoded ahead from the key
    // frame before it, at the first picture not copied: the leading pictures
    // of an open group's key frame are shown before it. Their decoding times
    // follow the last copied picture's.
    void StartTail() {
        phase_ = VideoPhase::kTail;
        if (!tail_) {
            OpenTail(*plan_.encodeTailFrom);
            return;
        }
        const int64_t delay = tailKey_ ? tailKey_->delay : 0;
        if (!maxCopiedPts_ || !lastCopiedDts_) {
            tail_->StartWindow(*plan_.encodeTailFrom, delay);
            return;
        }
        // Past the window's tolerance, which would take the last copied picture in again.
        const int64_t from = *maxCopiedPts_ + kToleranceTicks + 1;
        tail_->StartWindow(from, std::min(delay, *maxCopiedPts_ - *lastCopiedDts_));
    }

    void FinishTail() {
        if (phase_ != VideoPhase::kTail) return;
        phase_ = VideoPhase::kDone;
        if (!tail_) return;
        const bool ok = tail_->Finish();
        for (auto& encoded : tail_->TakeEncoded()) WriteEncoded(encoded.get());
        job_.report->reencodedFrames += tail_->EncodedPictures();
        if (!ok) FailTail(tail_->Problem());
        tail_.reset();
    }

    void FailTail(const std::string& problem) {
        phase_ = VideoPhase::kDone;
        host_.FailTask(FailureReport{"cannot encode the pictures from " + SecondsText(*plan_.encodeTailFrom) +
                                         " to the clip's end at " + SecondsText(plan_.end) + ": " + problem,
                                     KX_E_FAIL});
    }

    std::unique_ptr<H264OpenKeySplice> splice_;  // when the first copied key frame is an open H.264 one
    TaskHost& host_;
    const EdgeClipJob& job_;
    const EdgeCutPlan& plan_;
    const VideoSource& video_;
    const EncoderSettings settings_;
    const std::optional<KeyPacket> tailKey_;
    const std::optional<int64_t> preRoll_;  // where the tail's decoding starts, when before its key frame
    const int64_t zero_;
    ClipEndWatch tailEnd_{video_, plan_.end};
    std::optional<int64_t> maxCopiedPts_;
    std::optional<int64_t> lastCopiedDts_;
    VideoPhase phase_ = VideoPhase::kDone;
    std::unique_ptr<PictureReencoder> tail_;
};


// The head: the pictures from the clip's start to the first copied key
// frame (or its end), decoded from the key frame before the start.
struct Head {
    std::vector<OwnedPacket> packets;
    int64_t pictures = 0;
    std::optional<int64_t> firstPictureTime;
    std::string problem;
    bool stopped = false;
};

Head EncodeHead(TaskHost& host, ITDemuxerControl* control, const FileRecord& file, const EdgeCutPlan& plan,
                const VideoSource& video, const EncoderSettings& settings, int64_t decodeDelay, bool openKey,
                bool canSeek) {
    Head head;
    const int64_t headEnd = plan.copyFrom.value_or(plan.end);
    auto encoder = PictureReencoder::Open(settings, {plan.start, headEnd, decodeDelay}, &head.problem);
    if (!encoder) return head;
    const int64_t headKeyTime = KeyFrameAtOrBefore(file.keyFrames, plan.start);
    PositionAtKey(control, headKeyTime, canSeek);
    bool decoding = false;  // from the head's key frame on
    bool pastKey = false;   // the first copied key frame, when open, has been fed
    ClipEndWatch clipEnd(video, plan.end);
    EnginePacket packet;
    for (;;) {
        const Read step = ReadPacket(host, control, packet.get());
        if (step == Read::kStopped) {
            head.stopped = true;
            return head;
        }
        if (step == Read::kRanOut) break;
        const bool isVideo = packet->stream_index == video.streamIndex;
        decoding = decoding || (isVideo && IsKey(packet.get()) && Near(packet->pts, headKeyTime));
        if (decoding && isVideo) {
            // Past the head: at the first copied key frame, or, without one,
            // where decoding order has passed the clip's end.
            // An open one is decoded too, for its leading pictures, which are shown before it.
            const bool atKey = plan.copyFrom && IsKey(packet.get()) && Near(packet->pts, *plan.copyFrom);
            const bool past = !plan.copyFrom ? clipEnd.Passed(packet.get())
                              : atKey        ? !openKey
                              : pastKey      ? !IsLeadingPicture(video, packet.get(), *plan.copyFrom)
                                             : false;
            pastKey = pastKey || atKey;
            if (past || !encoder->Feed(packet.get())) break;
        }
        packet.Unref();
        control->ReadNext();
    }
    packet.Unref();
    // The copied open key frame then starts a coded video sequence of its
    // own: it may use other parameter sets, and its leading pictures, which
    // refer to pictures not copied, are left out.
    if (!encoder->Problem().empty() || !encoder->Finish() || (openKey && !encoder->EndCodedSequence())) {
        head.problem = "the pictures before the first key frame could not be encoded again: " + encoder->Problem();
        return head;
    }
    head.packets = encoder->TakeEncoded();
    head.pictures = encoder->EncodedPictures();
    head.firstPictureTime = encoder->FirstPictureTime();
    return head;
}

// The key frame the tail decodes from when its own is open and copied
// pictures come before it; none when it decodes from its own.
std::optional<int64_t> PreRollOf(const FileRecord& file, const EdgeCutPlan& plan,
                                 const std::optional<KeyPacket>& tail) {
    if (!tail || tail->kind != KeyKind::kOpen || !plan.copyFrom || !plan.encodeTailFrom) return std::nullopt;
    if (*plan.encodeTailFrom <= *plan.copyFrom + kToleranceTicks) return std::nullopt;
    const int64_t before = KeyFrameAtOrBefore(file.keyFrames, *plan.encodeTailFrom - 2 * kToleranceTicks);
    return std::max(before, *plan.copyFrom);
}

}  // namespace

std::optional<EdgeClipEnd> CopyClipWithEncodedEdges(TaskHost& host, const EdgeClipJob& job) {
    FileRecord& file = *job.file;
    ClipCutReport& report = *job.report;
    const auto fallBack = [&](const std::string& reason) -> std::optional<EdgeClipEnd> {
        report.fellBack = true;
        report.fallBackReason = reason;
        LogFormat(u"Clip cut at key frames: %S\n", reason.c_str());
        return std::nullopt;
    };
    const auto stopped = [] { return EdgeClipEnd{ClipOutcome::kStopped, ClipBounds{}, 0}; };

    VideoSource video;
    const std::optional<int> sole = SoleVideoStream(file);
    if (!sole) {
        if (!FirstVideoStream(file)) return std::nullopt;  // sound alone is cut at any packet anyway
        return fallBack("the clip has more than one video stream");
    }
    if (file.keyFrames.empty()) return fallBack("the file's key frames are not known");
    EdgeCutPlan plan = PlanEdgeCut(job.range, file.keyFrames, FileDurationTicks(file));
    if (!plan.EncodesAnything()) return std::nullopt;
    const bool canSeek = (job.capabilities & kCanSeekByTime) != 0;

    if (!DescribeVideoSource(file, *sole, &video)) return fallBack("the video stream has no description");
    if (auto why = WhyNotReencodable(video.parameters)) return fallBack(*why);

    // The key frames the cut relies on, with the parameter-set ids in use.
    SourceSetIds ids;
    const auto extradataSize = static_cast<size_t>(std::max(0, video.parameters->extradata_size));
    if (video.IsHevc())
        CollectHevcExtradataIds(video.parameters->extradata, extradataSize, &ids.hevc);
    else
        CollectExtradataParameterSetIds(video.parameters->extradata, extradataSize, &ids.h264);
    PlanKeys keys = ReadPlanKeys(host, job.control, file, plan, video, canSeek, &ids);
    if (keys.stopped || host.StopRequested()) return stopped();
    if (!keys.problem.empty()) return fallBack(keys.problem);
    // An open key frame at the end has leading pictures inside the clip: a
    // tail encodes them.
    if (keys.end && keys.end->kind == KeyKind::kOpen) {
        plan.encodeTailFrom = plan.end;
        keys.tail = keys.end;
    }
    // Planned when the outputs were made (their descriptions carry its sets);
    // a file set up otherwise gets its plan now, its sets in-band only.
    const bool setsDescribed = file.edgeEncoding.has_value();
    if (!file.edgeEncoding) file.edgeEncoding = PlanEdgeEncoding(file);
    if (!file.edgeEncoding) return fallBack("no parameter-set id is left free for the encoded pictures");
    EncoderSettings settings = SettingsOf(*file.edgeEncoding, video.parameters);
    if (!setsDescribed) settings.describedSets.clear();
    if (IdsClash(video, ids, settings))
        return fallBack("the source's pictures carry parameter sets under the id chosen for the encoded ones");

    // The head is encoded before anything is written, so that a failure
    // still leaves the key-frame cut.
    std::vector<OwnedPacket> head;
    int64_t zero = plan.fromFileStart ? 0 : plan.copyFrom.value_or(plan.start);
    if (plan.EncodesHead()) {
        const int64_t delay = keys.copy ? keys.copy->delay : keys.head->delay;
        const bool openKey = keys.copy && keys.copy->kind == KeyKind::kOpen;
        Head encoded = EncodeHead(host, job.control, file, plan, video, settings, delay, openKey, canSeek);
        if (encoded.stopped) return stopped();
        if (!encoded.problem.empty()) return fallBack(encoded.problem);
        head = std::move(encoded.packets);
        report.reencodedFrames += encoded.pictures;
        if (encoded.firstPictureTime) zero = *encoded.firstPictureTime;
    }

    ClipBounds bounds;
    bounds.fromFileStart = plan.fromFileStart;
    bounds.start = zero;
    bounds.toFileEnd = plan.toFileEnd;
    bounds.end = plan.end;
    bounds.streamsStartTogether = job.output && job.output->StartsEveryStreamAtZero();
    const bool spliceOpenKey = keys.copy && keys.copy->kind == KeyKind::kOpen && !video.IsHevc();
    EdgeClipPass pass(host, job, plan, video, settings, keys.tail, PreRollOf(file, plan, keys.tail), zero,
                      spliceOpenKey);
    const ClipOutcome outcome = pass.Run(bounds, KeyFrameAtOrBefore(file.keyFrames, plan.start), std::move(head));
    LogFormat(u"Clip with encoded edges: %lld pictures encoded again, %lld copied\n",
              static_cast<long long>(report.reencodedFrames), static_cast<long long>(report.copiedFrames));
    return EdgeClipEnd{outcome, bounds, zero};
}

}  // namespace kx
