// The one place that prepares the media library: set-up, the silent log
// callback, and codec identifier translation between our numbering
// (28 = H.264) and the linked library's AVCodecID.
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace kx {

// Library initialisation before a demuxer holder or muxer is created
// (nothing is needed on current builds; kept as the one hook).
void InitMediaKernel();

// Installs a log callback that drops every message of the media library.
void SilenceMediaLibraryLog();

// Identifiers of library codecs that have no row in our table are carried as
// this base plus the library value, so they never collide with a row.
constexpr int32_t kUnmappedCodecBase = 0x40000000;

// Our identifier -> the library's; AV_CODEC_ID_NONE when the row's
// enumerator does not exist in the linked library.
AVCodecID ToLibraryCodecId(int32_t codecId);

// The library's identifier -> ours.
int32_t FromLibraryCodecId(AVCodecID codecId);

}  // namespace kx
