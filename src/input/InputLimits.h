// What opening one input may cost: the bounds that keep a small broken or
// hostile file from taking gigabytes or minutes, and the formats refused
// because they read other files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct AVDictionary;
struct AVFormatContext;
struct AVInputFormat;

namespace kx {

// Names are handed to the media library as UTF-8 of at most this many bytes.
constexpr size_t kMaxInputNameBytes = 1023;

// More streams than this and the file is refused: each stream costs a
// parser and a probing decoder, and no real recording comes near it.
constexpr unsigned kMaxInputStreams = 100;

// Processor time (of the opening thread) that reading one file's header and
// stream information may take.
constexpr int kOpenCpuSeconds = 5;

// Memory that reading one file's header and stream information may take
// (the growth of the process's heap while it runs): 192 MB, and 4 bytes
// more per byte of the file up to 1 GB, so that the pictures of a real 8K
// film fit while a small file stays small. The per-stream bounds below
// cannot reach streams that only appear while the stream information is
// read (transport streams announce most of theirs that way); this one does.
constexpr size_t kOpenHeapBytes = size_t(192) << 20;
constexpr size_t kOpenHeapMost = size_t(1) << 30;
size_t OpenHeapBudget(int64_t fileBytes);

// How much of the file the stream information may read, in bytes and in
// media time (the library's own defaults, fixed here on purpose).
constexpr int64_t kProbeBytes = 5'000'000;
constexpr int64_t kProbeMicroseconds = 5'000'000;

// Only this many video streams are decoded while the stream information is
// read; the others keep what their headers and parsers tell.
constexpr unsigned kProbeDecodedVideoStreams = 4;

// The largest picture (width x height) a decoder of this file may set up.
// It grows with the file, 64 pixels per byte, between a floor that every
// HD picture passes and a ceiling above 8K: an 8K picture in a file of a
// few hundred bytes is a lie that would cost a hundred megabytes per
// decoded frame.
int64_t PictureCeiling(int64_t fileBytes);

// True for the formats that read other files or network resources named in
// the input (playlists, image sequences, subtitle pairs, session
// descriptions): hls, dash, concat, image2, vobsub, imf, sdp and the formats
// that open their input themselves (rtp, rtsp, sap).
bool ReadsOtherFiles(const AVInputFormat* format);

// Every demuxer of the linked library except those, comma-separated, for
// the library's format whitelist.
const std::string& DemuxersThatReadOneFile();

// The options of one open: local files only, the format list unless linked
// files are allowed, and the stream and probing bounds.
AVDictionary* OpenOptions(bool allowLinkedFiles);

// One option set per stream of the opened context for the stream
// information's decoders: the picture ceiling; no decoding at all for video
// streams past the first few, nor for those whose header already declares a
// picture over the ceiling (they keep the declared size). Free with
// FreeStreamOptions.
AVDictionary** ProbeDecoderOptions(const AVFormatContext* context, int64_t fileBytes);
void FreeStreamOptions(AVDictionary** options, unsigned count);

}  // namespace kx
