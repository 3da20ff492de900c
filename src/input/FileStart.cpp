#include "input/FileStart.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/DemuxTime.h"

namespace kx {

namespace {
constexpr int64_t kRewindMarginTicks = 3600LL * 10'000'000;  // one hour
}  // namespace

int SeekToFirstPacket(const AVFormatContext* format, int streamIndex, const StreamSeek& seek) {
    const AVStream* stream = format->streams[streamIndex];
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const int64_t margin = TicksToStreamTime(kRewindMarginTicks, stream->time_base);
    int result = seek(start - margin, AVSEEK_FLAG_ANY);
    if (result < 0 && !(format->iformat->flags & AVFMT_NO_BYTE_SEEK)) result = seek(0, AVSEEK_FLAG_BYTE);
    return result;
}

}  // namespace kx
