#include "input/H264KeyFrame.h"

#include "input/NalUnitWalk.h"

namespace kx {

namespace {

// slice_type from the byte after a non-IDR slice header: first_mb_in_slice is
// taken as the bits up to its first set bit, slice_type is the Exp-Golomb
// code that follows, when it fits in the same byte.
NalAnswer ClassifySliceByte(uint8_t b) {
    int bit = 7;
    while (bit >= 0 && !(b & (1 << bit))) --bit;
    if (bit < 0) return NalAnswer::Nothing;
    --bit;  // past first_mb_in_slice's set bit
    int zeros = 0;
    while (bit >= 0 && !(b & (1 << bit))) {
        ++zeros;
        --bit;
    }
    if (bit < 0 || bit - zeros < 0) return NalAnswer::Nothing;  // code does not fit
    unsigned value = 0;
    for (int k = 0; k <= zeros; ++k, --bit) value = (value << 1) | ((b >> bit) & 1u);
    int sliceType = static_cast<int>(value) - 1;
    switch (sliceType) {
        case 2: case 7: return NalAnswer::Key;
        case 0: case 5: case 1: case 6: return NalAnswer::NotKey;
        default: return NalAnswer::Nothing;
    }
}

NalAnswer ClassifyNal(const uint8_t* nal, int available) {
    int type = nal[0] & 0x1F;
    if (type == 5) return NalAnswer::Key;
    if (type == 1 && available >= 2) return ClassifySliceByte(nal[1]);
    return NalAnswer::Nothing;
}

}  // namespace

bool IsH264KeyFrame(const uint8_t* data, int size, H264PacketForm form) {
    const auto classify = [](const uint8_t* nal, int available) { return ClassifyNal(nal, available); };
    return FirstNalAnswer(data, size, form, classify) == NalAnswer::Key;
}

bool IsH264IdrPicture(const uint8_t* data, int size, H264PacketForm form) {
    const auto classify = [](const uint8_t* nal, int) {
        const int type = nal[0] & 0x1F;
        if (type == 5) return NalAnswer::Key;
        return type == 1 ? NalAnswer::NotKey : NalAnswer::Nothing;
    };
    return FirstNalAnswer(data, size, form, classify) == NalAnswer::Key;
}

}  // namespace kx
