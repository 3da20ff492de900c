// Where one reader's packets come from: a file it opened for itself, or its
// lane of a file that the readers of several streams share.
#pragma once

#include <cstdint>

struct AVPacket;

namespace kx {

class PacketFeed {
public:
    virtual ~PacketFeed() = default;
    // The next packet of the reader's streams, its times filled where the
    // container left them out (packet mode); av_read_frame's contract: 0, or
    // the reading's negative result at the end.
    virtual int Read(AVPacket* packet) = 0;
    // av_seek_frame's contract; what was read ahead is dropped.
    virtual int Seek(int streamIndex, int64_t timestamp, int flags) = 0;
    // A key-frame scan read the file and put it back to its start. True when
    // the reader goes on after the last packet it was given; false when it
    // starts again from the start.
    virtual bool AfterScan() = 0;
};

}  // namespace kx
