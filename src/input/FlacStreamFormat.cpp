#include "input/FlacStreamFormat.h"

#include <cstring>
#include <optional>

namespace kx {

namespace {

constexpr size_t kStreamInfoSize = 34;
constexpr size_t kMarkerAndBlockHeader = 8;  // "fLaC", then the block's type and length
// Sample rate (20 bits), channels - 1 (3) and bits per sample - 1 (5) start at
// bit 80: bytes 10 to 12 and the high nibble of byte 13.
constexpr size_t kFormatByte = 10;

std::optional<const uint8_t*> StreamInfoOf(const uint8_t* data, size_t size) {
    if (!data) return std::nullopt;
    if (size == kStreamInfoSize) return data;
    if (size >= kMarkerAndBlockHeader + kStreamInfoSize && std::memcmp(data, "fLaC", 4) == 0 &&
        (data[4] & 0x7F) == 0)
        return data + kMarkerAndBlockHeader;
    return std::nullopt;
}

}  // namespace

bool SameFlacStreamFormat(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize) {
    const auto x = StreamInfoOf(a, aSize);
    const auto y = StreamInfoOf(b, bSize);
    if (!x || !y) return aSize == bSize && (aSize == 0 || (a && b && std::memcmp(a, b, aSize) == 0));
    const uint8_t* p = *x + kFormatByte;
    const uint8_t* q = *y + kFormatByte;
    return p[0] == q[0] && p[1] == q[1] && p[2] == q[2] && (p[3] & 0xF0) == (q[3] & 0xF0);
}

}  // namespace kx
