// The kinds the task layer tells apart. The host's numbers for them are
// translated in the api layer, the demux layer's media types here.
#pragma once

#include <cstdint>

#include "input/DemuxTypes.h"

namespace kx {

// What a selected stream or an output stream carries. Subtitles are cut by
// time like sound, but a cue stays in the clip it starts in. kOther: a kind a
// host named that this library does not know, copied and cut like sound.
enum class StreamKind { kVideo, kAudio, kSubtitle, kOther };

// How a clip is measured: a time range in ticks, or a byte count.
enum class ClipKind { kTime, kSize };

enum class TaskKind { kSplit, kMerge, kStreamMix };

// Where cuts may fall: exactly (a time clip at any picture, a size clip at
// its byte offset), or on key frames (a size clip's start is then a time in
// seconds). kReencodeEdges: a split's time clip starts and ends at any
// picture, the pictures between a cut and the nearest key frame inside the
// clip encoded again; everything else is cut as at key frames.
enum class CutPlacement { kExact, kKeyFrame, kReencodeEdges };

// Size clips positioned each at its own start, or pieces that follow on:
// each starts at the key frame that ended the one before.
enum class SizeClipChain { kPositioned, kFollowOn };

// The kind of a stream from the demux layer's media type.
StreamKind StreamKindOfMediaType(MediaType mediaType);

}  // namespace kx
