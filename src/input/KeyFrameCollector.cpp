#include "input/KeyFrameCollector.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/DemuxTime.h"

namespace kx {

KeyFrameCollector::KeyFrameCollector(const AVStream* stream)
    : stream_(stream), form_(BitstreamFormOfStream(stream->codecpar)) {}

bool KeyFrameCollector::Take(const AVPacket* packet) {
    ++frameNumber_;
    // Containers do not always flag key frames; the bytes tell where the codec allows.
    const bool key = (packet->flags & AV_PKT_FLAG_KEY) ||
                     IsKeyFrameByBitstream(stream_->codecpar->codec_id, packet->data, packet->size, form_);
    if (!key) return false;
    const int64_t shown = ShownTimeOf(packet, stream_);
    last_.frameNumber = frameNumber_;
    last_.timed = shown != AV_NOPTS_VALUE;
    last_.shownTicks = last_.timed ? StreamTimeToTicks(shown, stream_->time_base) : 0;
    return true;
}

KeyFrameRecord KeyFrameRecordOf(const KeyFrameSighting& sighting, int32_t keyFrameNumber, int64_t timeZero) {
    KeyFrameRecord record{};
    record.keyFrameNumber = keyFrameNumber;
    record.time = sighting.timed ? sighting.shownTicks - timeZero : 0;
    record.frameNumber = sighting.frameNumber;
    return record;
}

}  // namespace kx
