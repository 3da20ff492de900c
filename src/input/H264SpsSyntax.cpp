#include "input/H264SpsSyntax.h"

namespace kx {

namespace {

constexpr int32_t kMinScaleDelta = -128;
constexpr int32_t kMaxScaleDelta = 127;
constexpr uint32_t kMaxChromaFormat = 3;
constexpr uint32_t kChroma444 = 3;
constexpr uint32_t kMaxDepthMinus8 = 6;  // 14 bits

// Profiles whose sequence parameter sets carry chroma format, bit depths and
// scaling matrices.
bool HasChromaFields(uint32_t profile) {
    switch (profile) {
        case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138:
        case 139: case 134: case 135:
            return true;
        default:
            return false;
    }
}

// False for a step outside -128..127, which no encoder writes.
bool SkipScalingList(RbspBitReader& bits, int size) {
    int last = 8;
    int next = 8;
    for (int j = 0; j < size && bits.Ok(); ++j) {
        if (next != 0) {
            const int32_t delta = bits.Se();
            if (delta < kMinScaleDelta || delta > kMaxScaleDelta) return false;
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

}  // namespace

std::optional<H264SpsStart> ReadH264SpsStart(RbspBitReader& bits) {
    H264SpsStart start;
    start.profile = bits.Bits(8);
    bits.Bits(16);  // constraint flags, level
    start.id = bits.Ue();
    if (!HasChromaFields(start.profile)) return start;
    start.format = bits.Ue();
    if (start.format > kMaxChromaFormat) return std::nullopt;
    if (start.format == kChroma444) start.separateColourPlane = bits.Flag();
    start.lumaDepthMinus8 = bits.Ue();
    start.chromaDepthMinus8 = bits.Ue();
    if (start.lumaDepthMinus8 > kMaxDepthMinus8 || start.chromaDepthMinus8 > kMaxDepthMinus8) return std::nullopt;
    bits.Flag();  // transform bypass
    if (bits.Flag()) {
        const int lists = start.format == kChroma444 ? 12 : 8;
        for (int i = 0; i < lists && bits.Ok(); ++i)
            if (bits.Flag() && !SkipScalingList(bits, i < 6 ? 16 : 64)) return std::nullopt;
    }
    return bits.Ok() ? std::optional(start) : std::nullopt;
}

}  // namespace kx
