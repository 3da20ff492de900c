#include "input/ContextFeed.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace kx {

int ReadFrameRetryOnce(AVFormatContext* format, AVPacket* packet) {
    int result = av_read_frame(format, packet);
    if (result == AVERROR(EAGAIN)) result = av_read_frame(format, packet);
    return result;
}

int ContextFeed::Read(AVPacket* packet) {
    return fillTimes_ ? fill_.Read(packet) : ReadFrameRetryOnce(format_, packet);
}

int ContextFeed::Seek(int streamIndex, int64_t timestamp, int flags) {
    const int result = av_seek_frame(format_, streamIndex, timestamp, flags);
    fill_.Reset();  // held packets belong to where the file was
    return result;
}

bool ContextFeed::AfterScan() {
    fill_.Reset();
    return false;
}

}  // namespace kx
