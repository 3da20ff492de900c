// Bit rates and frame-rate kinds for the media description, from what the
// container says where it says it, and from a count of the packets where
// it does not.
#pragma once

#include <cstdint>

#include "input/PacketTally.h"

struct AVCodecParameters;
struct AVStream;

namespace kx {

enum class FrameRateKind { Constant, Variable };

// Whether the container's bit rate of the stream is missing or is only the
// uncompressed rate (channels x bits x sample rate) of a compressed codec.
bool NeedsMeasuredBitRate(const AVCodecParameters* parameters);

// Bits per second of the counted packets over `seconds`; 0 without a count
// or a length.
uint32_t MeasuredBitRate(const StreamTally& tally, double seconds);

// Bits per second of a whole file; 0 when its size or length is unknown.
uint32_t FileBitRate(int64_t bytes, double seconds);

// Variable when the mean rate (of the counted packets if there is a count,
// else the stream's average rate) lies markedly off the stream's base rate.
FrameRateKind FrameRateKindOf(const AVStream* stream, const StreamTally* tally);

}  // namespace kx
