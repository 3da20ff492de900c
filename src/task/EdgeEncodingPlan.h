// How the pictures of a file's clips cut with re-encoded edges are encoded,
// decided once per file before its clips' outputs are made.
#pragma once

#include <optional>

#include "media/PictureReencoder.h"
#include "task/FileRecord.h"

namespace kx {

// The source stream index of the file's one selected video stream; none
// without video or with several.
std::optional<int> SoleVideoStream(const FileRecord& file);

// From the video stream's description: a parameter-set id its sets leave
// free, its frame rate, and the parameter sets the encoder gives. None when
// the file has no sole H.264 or HEVC video stream that can be encoded again.
std::optional<EdgeEncoding> PlanEdgeEncoding(const FileRecord& file);

// The encoder settings of a planned encoding for the stream described by `source`.
EncoderSettings SettingsOf(const EdgeEncoding& encoding, const AVCodecParameters* source);

}  // namespace kx
