#include "task/OpenKeyClipStart.h"

extern "C" {
#include <libavcodec/packet.h>
}

#include "input/ITDemuxer.h"
#include "platform/KX_Log.h"
#include "task/CopySteps.h"
#include "task/EdgeEncodingPlan.h"
#include "task/EdgePlanKeys.h"
#include "task/FileReaders.h"

namespace kx {

using namespace edgecut;

std::unique_ptr<OpenKeyClipStart> OpenKeyClipStart::For(TaskHost& host, ITDemuxerControl* control,
                                                        const FileRecord& file, const ClipBounds& bounds,
                                                        int capabilities) {
    if (bounds.fromFileStart || bounds.anyFrame || !(capabilities & kCanSeekByTime)) return nullptr;
    const std::optional<int> sole = SoleVideoStream(file);
    if (!sole) return nullptr;
    // The search that placed the cuts has read most clips' key frames.
    if (ITAnalyze* analyze = AnalyzeOf(file); analyze && analyze->KnownIdrKeyFrame(*sole, bounds.start)) return nullptr;
    VideoSource video;
    if (!DescribeVideoSource(file, *sole, &video) || video.parameters->codec_id != AV_CODEC_ID_H264) return nullptr;

    SourceSetIds ids;
    const Lookup lookup = ReadKeyFrame(host, control, video, bounds.start, true, &ids);
    if (!lookup.key || lookup.key->kind == KeyKind::kIdr) return nullptr;
    bool stopped = false;
    const int64_t clipEnd = bounds.toFileEnd ? INT64_MAX : bounds.end;
    const std::string problem = CheckOpenKeySplice(host, control, video, lookup.key->pts, clipEnd, &stopped);
    if (stopped) return nullptr;
    if (!problem.empty()) {
        LogFormat(u"Clip starts at an open group's key frame, copied as it is: %S\n", problem.c_str());
        return nullptr;
    }
    return std::unique_ptr<OpenKeyClipStart>(
        new OpenKeyClipStart(video.streamIndex, lookup.key->pts, SpliceFor(video)));
}

bool OpenKeyClipStart::Pass(AVPacket* packet, PacketFate fate) {
    if (!problem_.empty()) return false;
    if (packet->stream_index != stream_) return true;
    const bool written = fate == PacketFate::kWrite || fate == PacketFate::kWriteHeldFirst;
    const bool leading = started_ && !written && packet->pts != AV_NOPTS_VALUE && packet->pts < keyPts_;
    if (!written && !leading) return true;
    started_ = true;
    problem_ = SplicePacket(*splice_, packet, leading);
    return problem_.empty();
}

}  // namespace kx
