// The feed of a reader that has the file to itself: packets as the library
// reads them, through the time filling of packet mode.
#pragma once

#include "input/PacketFeed.h"
#include "input/PacketTimeFill.h"

struct AVFormatContext;

namespace kx {

class ContextFeed final : public PacketFeed {
public:
    // The context stays the caller's.
    ContextFeed(AVFormatContext* format, bool fillTimes) : format_(format), fillTimes_(fillTimes), fill_(format) {}

    int Read(AVPacket* packet) override;
    int Seek(int streamIndex, int64_t timestamp, int flags) override;
    bool AfterScan() override;

private:
    AVFormatContext* format_;
    bool fillTimes_;
    PacketTimeFill fill_;
};

// Reads once more when the library asks to (EAGAIN).
int ReadFrameRetryOnce(AVFormatContext* format, AVPacket* packet);

}  // namespace kx
