// libx265 set up to stand in for an HEVC stream's own encoder: the stream's
// profile, tier, level, size, pixel format, aspect and colour, one group led
// by an IDR picture, no B-frames.
#pragma once

#include <optional>
#include <string>

struct AVCodecContext;
struct AVCodecParameters;

namespace kx {

struct EncoderSettings;

// Why libx265 cannot make pictures for the stream; none when it can.
std::optional<std::string> WhyNotX265(const AVCodecParameters* source);

// An open encoder whose parameter sets go to its extradata (Annex B) rather
// than in front of the first picture; null, with the problem, when it cannot
// be opened.
AVCodecContext* OpenX265(const EncoderSettings& settings, std::string* problem);

}  // namespace kx
