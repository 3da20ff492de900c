// The hvcC record (the HEVC stream description of MP4 and Matroska) with
// more parameter sets: those of pictures encoded into a copied stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx {

// The record with the VPS, SPS and PPS units of `annexB` (other units left
// out) added to its arrays of their type, an array made where the record has
// none; the arrays' completeness flags are kept. Empty when the record's
// arrays run past its end, or when an array or a unit would outgrow its
// 16-bit count or length.
std::vector<uint8_t> AppendToHvcCRecord(const uint8_t* record, size_t recordSize, const uint8_t* annexB,
                                        size_t annexBSize);

}  // namespace kx
