// The hvcC record (the HEVC stream description of MP4 and Matroska) with
// more parameter sets: those of pictures encoded into a copied stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx {

inline constexpr uint8_t kHvcCVersion = 1;
inline constexpr size_t kHvcCHeaderSize = 22;  // up to numOfArrays

// Walks an hvcC record's arrays in order: `array(head)` with each array's
// first byte (completeness, reserved bit, unit type), then `unit(data,
// length)` for each of its units behind their 16-bit lengths. False when the
// record is no hvcC of this version or an array or unit runs past its end
// (the callbacks may have been called for what came before).
template <typename OnArray, typename OnUnit>
bool WalkHvcCArrays(const uint8_t* data, size_t size, const OnArray& array, const OnUnit& unit) {
    if (!data || size < kHvcCHeaderSize + 1 || data[0] != kHvcCVersion) return false;
    size_t pos = kHvcCHeaderSize;
    const int arrays = data[pos++];
    for (int a = 0; a < arrays; ++a) {
        if (pos + 3 > size) return false;
        array(data[pos]);
        const size_t units = (size_t{data[pos + 1]} << 8) | data[pos + 2];
        pos += 3;
        for (size_t n = 0; n < units; ++n) {
            if (pos + 2 > size) return false;
            const size_t length = (size_t{data[pos]} << 8) | data[pos + 1];
            pos += 2;
            if (length > size - pos) return false;
            unit(data + pos, length);
            pos += length;
        }
    }
    return true;
}

// The record with the VPS, SPS and PPS units of `annexB` (other units left
// out) added to its arrays of their type, an array made where the record has
// none; the arrays' completeness flags are kept. Empty when the record's
// arrays run past its end, or when an array or a unit would outgrow its
// 16-bit count or length.
std::vector<uint8_t> AppendToHvcCRecord(const uint8_t* record, size_t recordSize, const uint8_t* annexB,
                                        size_t annexBSize);

}  // namespace kx
