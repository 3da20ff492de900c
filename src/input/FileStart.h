// Seeking back to the first packet of a stream.
#pragma once

#include <cstdint>
#include <functional>

struct AVFormatContext;

namespace kx {

// av_seek_frame's arguments for one stream: timestamp and flags.
using StreamSeek = std::function<int(int64_t timestamp, int flags)>;

// Seeks far enough before the stream's start for every container (an edit
// list's pre-roll and audio priming lie before the start time), by byte 0
// where that fails and the format allows it. av_seek_frame's result.
int SeekToFirstPacket(const AVFormatContext* format, int streamIndex, const StreamSeek& seek);

}  // namespace kx
