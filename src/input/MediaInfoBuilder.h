// Fills a StreamMediaInfo record from one stream of an opened file.
#pragma once

#include "input/DemuxTypes.h"

struct AVFormatContext;

namespace kx {

// A new record for a video, audio or subtitle stream (null for any other
// stream or a bad index). Codec fields come from a decoding context opened on the
// stream's parameters; the extradata is an owned copy.
StreamMediaInfo* BuildStreamMediaInfo(AVFormatContext* format, int streamIndex);

// Frees the extradata copy and the record; null is ignored.
void FreeStreamMediaInfo(StreamMediaInfo* info);

}  // namespace kx
