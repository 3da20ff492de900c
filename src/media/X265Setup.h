// libx265 set up to stand in for an HEVC stream's own encoder: the stream's
// profile, tier, level, size, pixel format, aspect and colour, one group led
// by an IDR picture, no B-frames.
#pragma once

#include <optional>
#include <string>

struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;

namespace kx {

struct EncoderSettings;

// Why libx265 cannot make pictures for the stream; none when it can.
std::optional<std::string> WhyNotX265(const AVCodecParameters* source);

// An open encoder whose parameter sets go to its extradata (Annex B) rather
// than in front of the first picture; null, with the problem, when it cannot
// be opened. The first picture, when given, passes on its HDR mastering
// display and light levels, which the encoder sends in SEI messages as the
// source's pictures did.
AVCodecContext* OpenX265(const EncoderSettings& settings, std::string* problem, const AVFrame* first = nullptr);

}  // namespace kx
