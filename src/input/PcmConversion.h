// Decoded sound of any of the library's sample formats as interleaved signed
// 16-bit little-endian PCM of all channels, sample for sample as the
// library's own resampler converts it without dithering:
//   float  -> clip16(lrintf(x * 32768))     double -> clip16(lrint(x * 32768))
//   s32    -> x >> 16                        s64    -> x >> 48
//   u8     -> (x - 0x80) << 8                s16    -> as is
// Planar formats are interleaved channel by channel. Out-of-range floats
// (NaN, infinities, |x| >= 65536) follow the resampler's plain code on
// x86-64 to the bit, lrint's overflow value and the int narrowing included.
#pragma once

#include <cstdint>

struct AVFrame;

namespace kx {

// Samples per channel that the frame's planes really hold (never more than
// nb_samples), or -1 when the frame cannot be converted: an unknown sample
// format, no channels, or a missing plane.
int64_t ConvertibleSamples(const AVFrame* frame);

// Bytes of interleaved 16-bit PCM the frame converts to
// (ConvertibleSamples x channels x 2), or -1 as above.
int64_t InterleavedS16Bytes(const AVFrame* frame);

// Converts the frame into out, which holds capacity bytes. Returns the bytes
// written, or -1 when the frame cannot be converted or does not fit.
int64_t ConvertToInterleavedS16(const AVFrame* frame, uint8_t* out, int64_t capacity);

}  // namespace kx
