#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "demux/H264KeyFrame.h"

using kx::IsH264KeyFrame;

namespace {

using Bytes = std::vector<uint8_t>;

bool Key(const Bytes& b) { return IsH264KeyFrame(b.data(), static_cast<int>(b.size())); }

// The byte after a slice header: first_mb_in_slice = 0 ("1"), then slice_type
// as Exp-Golomb, padded with ones.
uint8_t SliceByte(int sliceType) {
    unsigned code = sliceType + 1;
    int bits = 0;
    while ((code >> bits) > 1) ++bits;
    // 1, bits zeros, then the bits+1 bits of code
    unsigned value = 1;
    value = (value << bits);
    value = (value << (bits + 1)) | code;
    int used = 1 + bits + bits + 1;
    return static_cast<uint8_t>((value << (8 - used)) | ((1u << (8 - used)) - 1));
}

Bytes LengthPrefixed(Bytes nal) {
    uint32_t n = static_cast<uint32_t>(nal.size());
    Bytes out = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    out.insert(out.end(), nal.begin(), nal.end());
    return out;
}

}  // namespace

TEST(DemuxH264KeyFrame, SliceByteHelperEncodesExpGolomb) {
    EXPECT_EQ(SliceByte(5), 0b10011011);  // 1 | 00110 | 11
    EXPECT_EQ(SliceByte(7), 0b10001000);  // 1 | 0001000
    EXPECT_EQ(SliceByte(0), 0b11111111);  // 1 | 1 | 111111
}

TEST(DemuxH264KeyFrame, IdrInLengthPrefixedForm) {
    EXPECT_TRUE(Key(LengthPrefixed({0x65, 0x88, 0x84, 0x00, 0x33})));
    EXPECT_TRUE(Key(LengthPrefixed({0x25, 0xB8})));  // nal_ref_idc 1
    // The prefix must cover exactly the rest of the packet.
    Bytes wrongLength = LengthPrefixed({0x65, 0x88, 0x84, 0x00, 0x33});
    wrongLength[3] += 1;
    EXPECT_FALSE(Key(wrongLength));
    // Two units in one packet: the length test fails, nothing is found.
    Bytes two = LengthPrefixed({0x06, 0x05, 0x11});
    Bytes idr = LengthPrefixed({0x65, 0x88, 0x84});
    two.insert(two.end(), idr.begin(), idr.end());
    EXPECT_FALSE(Key(two));
}

TEST(DemuxH264KeyFrame, StartCodesOfThreeAndFourBytes) {
    EXPECT_TRUE(Key({0, 0, 0, 1, 0x65, 0x88, 0x80}));
    EXPECT_TRUE(Key({0, 0, 1, 0x65, 0x88, 0x80}));
    // After a unit that tells nothing (SPS, PPS, SEI) the scan goes on.
    EXPECT_TRUE(Key({0, 0, 0, 1, 0x67, 0x64, 0x00, 0x1F, 0, 0, 1, 0x68, 0xEE, 0x3C, 0, 0, 1, 0x65, 0x88, 0x80}));
    // The scan stops at the first unit that tells something.
    EXPECT_FALSE(Key({0, 0, 1, 0x41, SliceByte(5), 0x00, 0, 0, 1, 0x65, 0x88, 0x80}));
    // A start code in the last four bytes is not examined.
    EXPECT_FALSE(Key({0xAA, 0xBB, 0, 0, 1, 0x65}));
    EXPECT_TRUE(Key({0xAA, 0, 0, 1, 0x65, 0x00}));
}

TEST(DemuxH264KeyFrame, SliceTypesOfNonIdrSlices) {
    for (int type : {2, 7}) {
        EXPECT_TRUE(Key({0, 0, 0, 1, 0x41, SliceByte(type), 0x00})) << type;
        EXPECT_TRUE(Key(LengthPrefixed({0x41, SliceByte(type), 0x00}))) << type;
    }
    for (int type : {0, 5, 1, 6}) {
        EXPECT_FALSE(Key({0, 0, 0, 1, 0x41, SliceByte(type), 0x00})) << type;
        EXPECT_FALSE(Key(LengthPrefixed({0x41, SliceByte(type), 0x00}))) << type;
    }
    // SP/SI slices (3, 4, 8, 9) tell nothing.
    EXPECT_FALSE(Key({0, 0, 0, 1, 0x41, SliceByte(3), 0x00}));
    // A slice_type code that does not fit in the byte tells nothing.
    EXPECT_FALSE(Key({0, 0, 0, 1, 0x41, 0b10000010, 0x00}));
    EXPECT_FALSE(Key({0, 0, 0, 1, 0x41, 0x00, 0x00}));
    // first_mb_in_slice longer than one bit: only its prefix is consumed.
    // 01 | 0001000 -> first_mb prefix "01", then 0001000 would need 7 more bits.
    EXPECT_FALSE(Key({0, 0, 0, 1, 0x41, 0b01000100, 0x00}));
    // 01 | 1 -> slice_type 0 (P): not key.  001 | 011 -> slice_type 2 (I): key.
    EXPECT_TRUE(Key({0, 0, 0, 1, 0x41, 0b00101111, 0x00}));
}

TEST(DemuxH264KeyFrame, ShortAndEmptyBuffers) {
    EXPECT_FALSE(IsH264KeyFrame(nullptr, 100));
    uint8_t idr[] = {0, 0, 1, 0x65, 0x88};
    EXPECT_FALSE(IsH264KeyFrame(idr, 3));
    EXPECT_FALSE(IsH264KeyFrame(idr, 0));
    EXPECT_FALSE(IsH264KeyFrame(idr, -5));
    EXPECT_FALSE(Key({0, 0, 0, 0}));  // an empty length-prefixed unit
    EXPECT_FALSE(Key({0, 0, 0, 1}));
    // A length-prefixed IDR header with nothing after it is still an IDR.
    EXPECT_TRUE(Key({0, 0, 0, 1, 0x65}));
    // Non-IDR header at the very end: no slice byte to read.
    EXPECT_FALSE(Key({0, 0, 0, 1, 0x41}));
}

namespace {

// The test as first written: a byte-by-byte walk, and the single unit copied
// behind a start code. The fast search must answer exactly as it does.
int ReferenceAnswer(const uint8_t* nal, int available) {  // 0 nothing, 1 key, 2 not key
    int type = nal[0] & 0x1F;
    if (type == 5) return 1;
    if (type != 1 || available < 2) return 0;
    uint8_t b = nal[1];
    int bit = 7;
    while (bit >= 0 && !(b & (1 << bit))) --bit;
    if (bit < 0) return 0;
    --bit;
    int zeros = 0;
    while (bit >= 0 && !(b & (1 << bit))) ++zeros, --bit;
    if (bit < 0 || bit - zeros < 0) return 0;
    unsigned value = 0;
    for (int k = 0; k <= zeros; ++k, --bit) value = (value << 1) | ((b >> bit) & 1u);
    int sliceType = static_cast<int>(value) - 1;
    if (sliceType == 2 || sliceType == 7) return 1;
    return (sliceType == 0 || sliceType == 5 || sliceType == 1 || sliceType == 6) ? 2 : 0;
}

int ReferenceScan(const uint8_t* d, int size) {
    for (int pos = 0; pos <= size - 5;) {
        int nal = -1;
        if (d[pos] == 0 && d[pos + 1] == 0 && d[pos + 2] == 0 && d[pos + 3] == 1)
            nal = pos + 4;
        else if (d[pos] == 0 && d[pos + 1] == 0 && d[pos + 2] == 1)
            nal = pos + 3;
        if (nal < 0) {
            ++pos;
            continue;
        }
        if (int answer = ReferenceAnswer(d + nal, size - nal)) return answer;
        pos = nal;
    }
    return 0;
}

bool ReferenceKey(const Bytes& b) {
    const int size = static_cast<int>(b.size());
    if (size < 4) return false;
    if (ReferenceScan(b.data(), size) == 1) return true;
    uint32_t length = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
    if (length != uint32_t(size - 4)) return false;
    Bytes annexB = b;
    annexB[0] = annexB[1] = annexB[2] = 0;
    annexB[3] = 1;
    return ReferenceScan(annexB.data(), size) == 1;
}

}  // namespace

// Buffers dense in 00 and 01 bytes and NAL headers, in both forms, so that
// start codes fall at every offset, near both ends, inside prefixes and
// across the 16-byte blocks of the vector search.
TEST(DemuxH264KeyFrame, AnswersAsTheByteByByteWalk) {
    const uint8_t alphabet[] = {0, 0, 0, 1, 1, 0x65, 0x41, 0x25, 0x06, 0x67, 0x88, 0xFF, 0x9B, 0x2F};
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    int keys = 0;
    for (int round = 0; round < 40000; ++round) {
        Bytes b(next() % 64);
        for (auto& byte : b) byte = alphabet[next() % sizeof alphabet];
        if (round % 3 == 0 && b.size() >= 4) {  // a valid single-unit prefix
            uint32_t n = static_cast<uint32_t>(b.size() - 4);
            b[0] = uint8_t(n >> 24), b[1] = uint8_t(n >> 16), b[2] = uint8_t(n >> 8), b[3] = uint8_t(n);
        }
        bool expected = ReferenceKey(b);
        keys += expected;
        ASSERT_EQ(Key(b), expected) << "round " << round;
    }
    EXPECT_GT(keys, 1000);  // both answers were exercised
}

// Long slices with few zeros, as coded pictures are, and a start code or a
// lone zero pair planted at every offset: the wide blocks of the search and
// their seams see each position.
TEST(DemuxH264KeyFrame, LongBuffersAgreeWithTheByteByByteWalk) {
    uint32_t seed = 777;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    int keys = 0;
    for (int size = 60; size <= 200; size += 7) {
        for (int at = 0; at + 5 <= size; ++at) {
            Bytes b(static_cast<size_t>(size));
            for (auto& byte : b) byte = static_cast<uint8_t>(0x10 + next() % 0xE0);
            b[at] = 0, b[at + 1] = 0;
            b[at + 2] = (at % 3 == 0) ? 0x02 : 0x01;              // some pairs are not start codes
            b[at + 3] = (at % 2 == 0) ? 0x65 : 0x41;              // IDR or non-IDR slice
            b[at + 4] = static_cast<uint8_t>(0x80 | next() % 0x80);  // first_mb_in_slice 0
            if (at % 5 == 0 && size > at + 12) b[size - 4] = 0, b[size - 3] = 0, b[size - 2] = 1;  // near the end
            bool expected = ReferenceKey(b);
            keys += expected;
            ASSERT_EQ(Key(b), expected) << "size " << size << " start code at " << at;
        }
    }
    EXPECT_GT(keys, 100);
}
