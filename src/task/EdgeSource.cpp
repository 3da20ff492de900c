#include "task/EdgeSource.h"

#include <cstdio>

#include "input/H264KeyFrame.h"
#include "input/HevcKeyFrame.h"
#include "input/SourceStream.h"
#include "input/VideoKeyFrame.h"
#include "task/CopySteps.h"
#include "task/FileReaders.h"
#include "task/TaskHost.h"

namespace kx::edgecut {

std::string SecondsText(int64_t ticks) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", Seconds(ticks));
    return text;
}

Read ReadPacket(TaskHost& host, ITDemuxerControl* control, AVPacket* packet) {
    host.WaitWhilePaused();
    if (host.StopRequested()) return Read::kStopped;
    return control->GetPacket(packet) ? Read::kGot : Read::kRanOut;
}

void PositionAtKey(ITDemuxerControl* control, int64_t time, bool canSeek) {
    if (!canSeek) {
        control->Rewind();
        return;
    }
    control->Seek(Seconds(time), SeekMode::kBackwardKey, -1);
    EnsureHeldSample(control);
}

bool DescribeVideoSource(const FileRecord& file, int streamIndex, VideoSource* video) {
    video->streamIndex = streamIndex;
    video->description = DescribeStream(AnalyzeOf(file), streamIndex);
    if (!video->description || !video->description->source) return false;
    video->parameters = video->description->source->parameters;
    video->form = BitstreamFormOfStream(video->parameters).nalUnits;
    return true;
}

void CollectPacketSetIds(const VideoSource& video, const AVPacket* packet, SourceSetIds* ids) {
    if (video.IsHevc())
        CollectHevcPacketIds(packet->data, packet->size, video.form, &ids->hevc);
    else
        CollectPacketParameterSetIds(packet->data, packet->size, video.form, &ids->h264);
}

bool IdsClash(const VideoSource& video, const SourceSetIds& ids, const EncoderSettings& settings) {
    if (video.IsHevc()) {
        const HevcSetIds& own = settings.hevcIds;
        return ids.hevc.vps.test(static_cast<size_t>(own.vps)) || ids.hevc.sps.test(static_cast<size_t>(own.sps)) ||
               ids.hevc.pps.test(static_cast<size_t>(own.pps));
    }
    const auto id = static_cast<size_t>(settings.parameterSetId);
    return ids.h264.sps.test(id) || ids.h264.pps.test(id);
}

KeyKind KindOfKey(const VideoSource& video, const AVPacket* packet) {
    if (video.IsHevc())
        return HevcPictureKindOf(packet->data, packet->size, video.form) == HevcPictureKind::kIdr ? KeyKind::kIdr
                                                                                                  : KeyKind::kOpen;
    return IsH264IdrPicture(packet->data, packet->size, video.form) ? KeyKind::kIdr : KeyKind::kOpen;
}

bool IsLeadingPicture(const VideoSource& video, const AVPacket* packet, int64_t keyPts) {
    if (!video.IsHevc()) return packet->pts != AV_NOPTS_VALUE && packet->pts < keyPts - kToleranceTicks;
    const HevcPictureKind kind = HevcPictureKindOf(packet->data, packet->size, video.form);
    return kind == HevcPictureKind::kRasl || kind == HevcPictureKind::kRadl;
}

bool ClipEndWatch::Passed(const AVPacket* packet) {
    if (packet->dts != AV_NOPTS_VALUE && packet->dts >= end_ - kToleranceTicks) return true;
    if (keyShownAfter_) return !IsLeadingPicture(video_, packet, keyPts_);
    if (!PastClipEnd(packet, end_)) return false;
    keyShownAfter_ = true;
    keyPts_ = packet->pts;
    return false;
}

}  // namespace kx::edgecut
