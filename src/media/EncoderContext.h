// What the H.264 and HEVC encoders of a re-encoded run share: a context set
// up like the copied stream, and the library's error text.
#pragma once

#include <string>

extern "C" {
#include <libavutil/rational.h>
}

#include "media/PictureReencoder.h"

struct AVCodecContext;

namespace kx {

// Picture times of the encoded runs: ticks.
inline constexpr AVRational kEncoderTimeBase{1, 10'000'000};

// A context of the named libavcodec encoder with the source's size, pixel
// format, frame rate, aspect and colours and no B-frames; not yet opened. Null, with the problem, when the library lacks the encoder
// (`codecName`: how the problem names the codec).
AVCodecContext* EncoderLikeSource(const EncoderSettings& settings, const char* encoderName, const char* codecName,
                                  std::string* problem);

std::string LibraryText(int averror);

}  // namespace kx
