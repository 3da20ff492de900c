#include "demux/H264KeyFrame.h"

#include <vector>

namespace kx {

namespace {

enum class NalAnswer { Nothing, Key, NotKey };

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

// Walks the start codes; answers with the first NAL unit that tells anything.
NalAnswer ScanStartCodes(const uint8_t* d, int size) {
    int pos = 0;
    while (pos <= size - 5) {
        int nal = -1;
        if (d[pos] == 0 && d[pos + 1] == 0 && d[pos + 2] == 0 && d[pos + 3] == 1)
            nal = pos + 4;
        else if (d[pos] == 0 && d[pos + 1] == 0 && d[pos + 2] == 1)
            nal = pos + 3;
        if (nal < 0) {
            ++pos;
            continue;
        }
        NalAnswer answer = ClassifyNal(d + nal, size - nal);
        if (answer != NalAnswer::Nothing) return answer;
        pos = nal;
    }
    return NalAnswer::Nothing;
}

}  // namespace

bool IsH264KeyFrame(const uint8_t* data, int size) {
    if (!data || size < 4) return false;
    if (ScanStartCodes(data, size) == NalAnswer::Key) return true;
    // One length-prefixed unit: the big-endian prefix must cover the rest.
    uint32_t length = (uint32_t(data[0]) << 24) | (uint32_t(data[1]) << 16) | (uint32_t(data[2]) << 8) | data[3];
    if (length != uint32_t(size - 4)) return false;
    std::vector<uint8_t> annexB(data, data + size);
    annexB[0] = 0;
    annexB[1] = 0;
    annexB[2] = 0;
    annexB[3] = 1;
    return ScanStartCodes(annexB.data(), size) == NalAnswer::Key;
}

}  // namespace kx
