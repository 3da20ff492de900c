// A file's reading side: its multi-reader demuxer and its media information reader.
#pragma once

#include <cstdint>

#include "input/InputOpen.h"

namespace kx {

class ITDemuxer;
class CTMediaInfo;

// The demuxer a holder was made with; every holder today has a multi-reader one.
enum class DemuxerKind : int32_t { kNone = 0, kMultiReader = 1 };

struct DemuxerHolder {
    DemuxerKind kind = DemuxerKind::kNone;
    ITDemuxer* demuxer = nullptr;
    CTMediaInfo* mediaInfo = nullptr;
};

// Sets up the media library, the codec table, a multi-reader demuxer and an
// empty media information reader. Returns the demuxer's Initialize result.
int InitDemuxerHolder(DemuxerHolder* holder);

// A new, initialised holder in *out; negative on failure (then *out is null).
int CreateDemuxerHolder(DemuxerHolder** out);

// Opens the source for both: the media information reader reads its header
// and stream information, the demuxer keeps it for its stream readers.
// Returns why it cannot be read (kNone when it can).
InputProblem OpenHolderSource(DemuxerHolder* holder, const InputSource& source, int decodeMode);

// Releases the reader, closes and deletes the demuxer, frees the holder.
void DestroyDemuxerHolder(DemuxerHolder* holder);

// Before the first stream is added: when the media information reader has
// described the file, its open file becomes the first stream reader's, so
// that a file is opened once for both. Both open it the same way, and the
// description reads no packet, so the reader starts as from its own open.
void ShareOpenedFile(DemuxerHolder* holder);

}  // namespace kx
