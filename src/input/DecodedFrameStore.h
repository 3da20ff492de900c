// The DecodedFrame records of decode mode: creation, filling from a decoded
// AVFrame, release.
#pragma once

#include "input/DemuxTypes.h"

struct AVFrame;

namespace kx {

// A video record with a buffer for one packed 4:2:0 picture of the given size
// (each side rounded up to even).
DecodedFrame* CreateVideoFrameRecord(int width, int height);

// An audio record with one second of 16-bit PCM as capacity.
DecodedFrame* CreateAudioFrameRecord(int channels, int sampleRate);

void FreeDecodedFrame(DecodedFrame* record);

// Copies the picture packed into the record: W2 x H2 bytes of plane 0, then
// (W2/2) x (H2/2) bytes each of planes 1 and 2. A larger picture than the
// buffer holds gets a new buffer. Never reads past a plane: missing columns
// and rows repeat the last ones, missing planes read as 128.
bool FillVideoRecord(DecodedFrame* record, const AVFrame* frame);

// Converts the decoded sound to interleaved signed 16-bit PCM of all its
// channels (PcmConversion.h); bytes held = samples x channels x 2. A buffer
// too small for that is replaced by one of that size + 512 bytes. False for
// a frame that cannot be converted (unknown sample format, missing plane).
bool FillAudioRecord(DecodedFrame* record, const AVFrame* frame);

}  // namespace kx
