// Making, sizing and freeing MediaFrameRecords. Record buffers are C heap
// memory (malloc/free), so that whoever holds a record can replace or free
// a buffer that another party made.
#pragma once

#include <cstdint>

#include "KX_Remuxion.h"

namespace kx {

// Largest frame buffer a record may describe (sizes are 32-bit fields).
constexpr int64_t kMaxFrameBytes = INT32_MAX;

// Luma plus two quarter-size chroma planes: w*h + 2*((w+1)/2)*((h+1)/2).
// -1 for a negative dimension or a size beyond kMaxFrameBytes.
int64_t PlanarDataSize(int32_t width, int32_t height);

// Bytes that the record's frame buffer is known to hold, by its type and
// format: the capacity field of audio and byte-block records, the planar data
// size of a planar record, biSizeImage of a bitmap. 0 without a buffer.
int32_t KnownBufferSize(const MediaFrameRecord& record);

// The record's frame buffer (PCM, pixel, planar or byte block), or null.
const uint8_t* FrameBuffer(const MediaFrameRecord& record);

// A zero-filled record, or null when memory runs out.
MediaFrameRecord* NewFrameRecord();

// Frees the record's frame buffer by its type and format and zeroes the
// matching pointer, size and row-length fields. The record itself stays.
void FreeFrameBuffers(MediaFrameRecord& record);

// Frees the buffers and the record; null is ignored.
void FreeFrameRecord(MediaFrameRecord* record);

// The decoded stream's picture record: planar, layout 2, one buffer of
// (((w+1)/2)*((h+1)/2) + w*h)*2 + 512 bytes holding Y (16), then V and U
// (128), then alpha (255); row lengths w, (w+1)/2, (w+1)/2, w; times -1.
// Null for absurd dimensions or when memory runs out.
MediaFrameRecord* CreatePlanarVideoRecord(int32_t width, int32_t height);

// The decoded stream's sound record: 16 bits per sample and a zero-filled
// buffer of 0x100000 bytes; times -1. Null when memory runs out.
MediaFrameRecord* CreateAudioRecord(int32_t sampleRate, int32_t channels);

constexpr int32_t kAudioRecordBytes = 0x100000;

}  // namespace kx
