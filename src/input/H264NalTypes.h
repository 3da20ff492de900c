// The kinds of H.264 NAL unit the readers and writers look at, by the type
// in the low 5 bits of a unit's header byte.
#pragma once

#include <cstdint>

namespace kx {

enum class H264NalType : uint8_t {
    kSlice = 1,
    kIdrSlice = 5,
    kSei = 6,
    kSps = 7,
    kPps = 8,
    kAccessUnitDelimiter = 9,
    kFiller = 12,
};

constexpr uint8_t kH264NalTypeMask = 0x1F;

// The type of the unit whose header byte is `header` (any value; types this
// enum does not name compare unequal to all of its kinds).
constexpr H264NalType H264NalTypeOf(uint8_t header) { return static_cast<H264NalType>(header & kH264NalTypeMask); }

}  // namespace kx
