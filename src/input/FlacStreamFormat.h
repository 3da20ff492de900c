// Whether two FLAC streams hold their sound the same way, from their
// STREAMINFO blocks. A STREAMINFO also states its file's totals (samples,
// frame sizes, the MD5 of the whole sound), which differ between any two
// clips of one recording and tell nothing about joining them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// Sample rate, channel count and bits per sample equal; for bytes that hold
// no STREAMINFO (bare, or after "fLaC" and its block header), the bytes equal.
bool SameFlacStreamFormat(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize);

}  // namespace kx
