#include "input/MovTextHeader.h"

#include <cstring>

namespace kx {

namespace {

// Display flags, justification, background colour, default text box and
// default style record come before the boxes.
constexpr size_t kFixedFields = 30;
constexpr size_t kBoxHeader = 8;

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

}  // namespace

std::vector<uint8_t> MovTextHeaderWithoutBitRates(const uint8_t* data, size_t size) {
    std::vector<uint8_t> whole(data, data + (data ? size : 0));
    if (!data || size < kFixedFields) return whole;
    std::vector<uint8_t> kept(data, data + kFixedFields);
    for (size_t at = kFixedFields; at < size;) {
        if (size - at < kBoxHeader) return whole;
        const uint32_t boxSize = BigEndian32(data + at);
        if (boxSize < kBoxHeader || boxSize > size - at) return whole;
        if (std::memcmp(data + at + 4, "btrt", 4) != 0) kept.insert(kept.end(), data + at, data + at + boxSize);
        at += boxSize;
    }
    return kept;
}

}  // namespace kx
