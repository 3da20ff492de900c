#include "input/Av1KeyFrame.h"

namespace kx {

namespace {

enum class ObuType : uint8_t {
    SequenceHeader = 1,
    FrameHeader = 3,
    Frame = 6,
};

struct Obu {
    ObuType type;
    const uint8_t* payload;
    size_t available;  // payload bytes inside the buffer, fewer when cut short
};

constexpr uint8_t kForbiddenBit = 0x80;
constexpr uint8_t kExtensionFlag = 0x04;
constexpr uint8_t kHasSizeField = 0x02;
constexpr int kMaxLeb128Bytes = 8;
constexpr uint64_t kMaxObuSize = 0xFFFFFFFF;

// leb128() at `pos`; false when it runs past the end or past 32 bits.
bool ReadLeb128(const uint8_t* d, size_t size, size_t& pos, uint64_t& value) {
    value = 0;
    for (int i = 0; i < kMaxLeb128Bytes; ++i) {
        if (pos >= size) return false;
        const uint8_t byte = d[pos++];
        value |= uint64_t{byte & 0x7Fu} << (7 * i);
        if (!(byte & 0x80)) return value <= kMaxObuSize;
    }
    return false;
}

// Calls visit(obu) for each OBU in order while it returns true. An OBU
// without a size field runs to the end of the buffer; one whose size runs
// past the end is handed out as far as it goes and ends the walk, as does a
// header that is not well formed.
template <typename Visit>
void WalkObus(const uint8_t* d, size_t size, const Visit& visit) {
    for (size_t pos = 0; pos < size;) {
        const uint8_t header = d[pos++];
        if (header & kForbiddenBit) return;
        if (header & kExtensionFlag) ++pos;
        uint64_t length = 0;
        if (!(header & kHasSizeField)) {
            length = pos < size ? size - pos : 0;
        } else if (!ReadLeb128(d, size, pos, length)) {
            return;
        }
        if (pos > size) return;
        const size_t left = size - pos;
        const bool truncated = length > left;
        const Obu obu{static_cast<ObuType>((header >> 3) & 0x0F), d + pos, truncated ? left : size_t(length)};
        if (!visit(obu) || truncated) return;
        pos += obu.available;
    }
}

// seq_profile (3 bits), still_picture (1), reduced_still_picture_header (1).
constexpr uint8_t kReducedStillPictureBit = 0x08;
// show_existing_frame (1 bit), frame_type (2), show_frame (1).
constexpr uint8_t kShowExistingFrameBit = 0x80;
constexpr uint8_t kFrameTypeMask = 0x60;
constexpr uint8_t kShowFrameBit = 0x10;

bool ReducedStillPicture(const Obu& obu) { return obu.available >= 1 && (obu.payload[0] & kReducedStillPictureBit); }

constexpr uint8_t kAv1CMarker = 0x80;  // first byte of an av1C record; an OBU header has it clear
constexpr size_t kAv1CHeaderBytes = 4;

}  // namespace

bool IsAv1KeyFrame(const uint8_t* data, int size, bool stillPictures) {
    if (!data || size <= 0) return false;
    bool key = false;
    WalkObus(data, static_cast<size_t>(size), [&](const Obu& obu) {
        if (obu.type == ObuType::SequenceHeader) {
            if (obu.available >= 1) stillPictures = ReducedStillPicture(obu);
            return true;
        }
        if (obu.type != ObuType::FrameHeader && obu.type != ObuType::Frame) return true;
        if (obu.available >= 1) {
            const uint8_t first = obu.payload[0];
            key = stillPictures ||
                  (!(first & kShowExistingFrameBit) && (first & kFrameTypeMask) == 0 && (first & kShowFrameBit));
        }
        return false;  // the first frame header decides
    });
    return key;
}

bool Av1StillPicturesOfExtradata(const uint8_t* extradata, size_t size) {
    if (!extradata || size == 0) return false;
    if (extradata[0] & kAv1CMarker) {
        if (size <= kAv1CHeaderBytes) return false;
        extradata += kAv1CHeaderBytes;
        size -= kAv1CHeaderBytes;
    }
    bool still = false;
    WalkObus(extradata, size, [&](const Obu& obu) {
        if (obu.type != ObuType::SequenceHeader) return true;
        still = ReducedStillPicture(obu);
        return false;
    });
    return still;
}

}  // namespace kx
