// The one place that prepares the media library: set-up, the silent log
// callback, and codec identifier translation between our numbering
// (28 = H.264) and the linked library's AVCodecID.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace kx {

// Library initialisation before a demuxer holder or muxer is created
// (nothing is needed on current builds; kept as the one hook).
void InitMediaKernel();

// From the first output on, every message of the media library is dropped;
// before, they go where the library sends them by default (standard error).
void SilenceMediaLibraryLog();

// The largest single block the media library may allocate, set once by
// InitMediaKernel. A size field of a broken or hostile file then fails the
// allocation instead of reserving gigabytes; no real picture plane, packet or
// index comes near it.
constexpr size_t kMaxLibraryAllocation = size_t(256) << 20;

// While one lives, the media library's error messages from this thread are
// kept (whether or not they are also printed or dropped), so that a failed
// open can say why in the library's own words.
class MediaErrorCapture {
public:
    MediaErrorCapture();
    ~MediaErrorCapture();
    MediaErrorCapture(const MediaErrorCapture&) = delete;
    MediaErrorCapture& operator=(const MediaErrorCapture&) = delete;

    // The last error message, without its line end; empty when none came.
    const std::string& LastError() const { return last_; }
    void Keep(std::string message) { last_ = std::move(message); }

private:
    MediaErrorCapture* outer_;
    std::string last_;
};

// Identifiers of library codecs that have no row in our table are carried as
// this base plus the library value, so they never collide with a row.
constexpr int32_t kUnmappedCodecBase = 0x40000000;

// Our identifier -> the library's; AV_CODEC_ID_NONE when the row's
// enumerator does not exist in the linked library.
AVCodecID ToLibraryCodecId(int32_t codecId);

// The library's identifier -> ours.
int32_t FromLibraryCodecId(AVCodecID codecId);

}  // namespace kx
