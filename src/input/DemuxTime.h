// Conversions between a stream's time base and 100-ns ticks.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

struct AVPacket;
struct AVStream;
struct AVFormatContext;
struct AVCodecParameters;

namespace kx {

// value x 10,000,000 x num / den, rounded to nearest (value must not be
// AV_NOPTS_VALUE; callers pass that through themselves). 0 for a broken
// time base.
int64_t StreamTimeToTicks(int64_t value, AVRational timeBase);

// Same, but AV_NOPTS_VALUE stays AV_NOPTS_VALUE.
int64_t StreamTimeToTicksOrNoPts(int64_t value, AVRational timeBase);

// A stream's start time in ticks as the readers keep it: the double product,
// truncated toward zero; 0 when the stream has no start time.
int64_t StreamStartTicks(const AVStream* stream);

// The Matroska reader hands out a stream's packets its codec delay early
// (Opus pre-skip), so the first sound is heard that much after the first
// packet's time; 0 for every other reader and stream.
int64_t CodecDelayTicks(const AVFormatContext* format, const AVStream* stream);

// A Matroska track's codec delay in ticks, rounded in `timeBase` as the
// reader and the writer round it; 0 without one.
int64_t MatroskaCodecDelayTicks(const AVCodecParameters* parameters, AVRational timeBase);

// Ticks -> the stream's time base, for seeking.
int64_t TicksToStreamTime(int64_t ticks, AVRational timeBase);

// A packet's presentation time in its stream's time base. Containers without
// presentation times (AVI) give decoding times only; where the codec does not
// reorder pictures, a player shows each at its decoding time. AV_NOPTS_VALUE
// when neither is known.
int64_t ShownTimeOf(const AVPacket* packet, const AVStream* stream);

}  // namespace kx
