#include "input/Vp9KeyFrame.h"

#include <cstddef>
#include <optional>

namespace kx {

namespace {

// Bits of a byte buffer, most significant first; 0 past the end, which
// Ok() then tells.
class BitCursor {
public:
    BitCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t Bits(int n) {
        uint32_t value = 0;
        for (int i = 0; i < n; ++i, ++bit_) {
            const size_t byte = bit_ / 8;
            const uint32_t b = byte < size_ ? (data_[byte] >> (7 - bit_ % 8)) & 1u : 0;
            ok_ = ok_ && byte < size_;
            value = (value << 1) | b;
        }
        return value;
    }
    bool Ok() const { return ok_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t bit_ = 0;
    bool ok_ = true;
};

constexpr uint32_t kFrameMarker = 2;
constexpr uint32_t kReservedProfile = 3;  // has one more bit, which must be 0
constexpr uint32_t kKeyFrameType = 0;
constexpr uint32_t kFrameSyncCode = 0x498342;

bool IsKeyFrameHeader(const uint8_t* data, size_t size) {
    BitCursor bits(data, size);
    if (bits.Bits(2) != kFrameMarker) return false;
    const uint32_t profileLow = bits.Bits(1);
    const uint32_t profile = (bits.Bits(1) << 1) | profileLow;
    if (profile == kReservedProfile && bits.Bits(1) != 0) return false;
    if (bits.Bits(1) != 0) return false;  // show_existing_frame: a frame shown again
    if (bits.Bits(1) != kKeyFrameType) return false;
    bits.Bits(2);  // show_frame, error_resilient_mode
    return bits.Bits(24) == kFrameSyncCode && bits.Ok();
}

constexpr uint8_t kSuperframeMarkerMask = 0xE0;
constexpr uint8_t kSuperframeMarker = 0xC0;

struct Superframe {
    size_t firstFrameBytes = 0;
    size_t framesBytes = 0;  // everything before the index
};

// The packet as a superframe when it ends in an index: its marker byte
// stands at both ends of the index, whose sizes are little-endian, 1 to 4
// bytes each.
std::optional<Superframe> SuperframeOf(const uint8_t* d, size_t size) {
    const uint8_t marker = d[size - 1];
    if ((marker & kSuperframeMarkerMask) != kSuperframeMarker) return std::nullopt;
    const size_t frames = (marker & 0x07) + 1;
    const size_t sizeBytes = ((marker >> 3) & 0x03) + 1;
    const size_t indexBytes = 2 + sizeBytes * frames;
    if (size < indexBytes || d[size - indexBytes] != marker) return std::nullopt;
    Superframe superframe;
    superframe.framesBytes = size - indexBytes;
    for (size_t k = 0; k < sizeBytes; ++k)
        superframe.firstFrameBytes |= size_t{d[size - indexBytes + 1 + k]} << (8 * k);
    return superframe;
}

}  // namespace

bool IsVp9KeyFrame(const uint8_t* data, int size) {
    if (!data || size <= 0) return false;
    const size_t whole = static_cast<size_t>(size);
    const auto superframe = SuperframeOf(data, whole);
    if (!superframe) return IsKeyFrameHeader(data, whole);
    // A first frame said to reach into the index or beyond is no frame.
    return superframe->firstFrameBytes <= superframe->framesBytes &&
           IsKeyFrameHeader(data, superframe->firstFrameBytes);
}

}  // namespace kx
