#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "input/H264KeyFrame.h"

using kx::H264FormOfExtradata;
using kx::H264PacketForm;
using kx::IsH264KeyFrame;
using kx::kAnnexBForm;
using kx::LengthPrefixedForm;

namespace {

using Bytes = std::vector<uint8_t>;

bool Key(const Bytes& b, H264PacketForm form = kAnnexBForm) {
    return IsH264KeyFrame(b.data(), static_cast<int>(b.size()), form);
}

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

// Units one after another, each behind a big-endian length of lengthSize bytes.
Bytes Prefixed(const std::vector<Bytes>& units, int lengthSize = 4) {
    Bytes out;
    for (const Bytes& nal : units) {
        const size_t n = nal.size();
        for (int k = lengthSize - 1; k >= 0; --k) out.push_back(static_cast<uint8_t>(n >> (8 * k)));
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

// A unit of `size` bytes: the header, the slice byte, then filler without zeros.
Bytes Unit(uint8_t header, uint8_t second, size_t size) {
    Bytes nal(size, 0xA5);
    nal[0] = header;
    if (size > 1) nal[1] = second;
    return nal;
}

constexpr uint8_t kIdr = 0x65, kNonIdr = 0x41, kSei = 0x06, kAud = 0x09, kSps = 0x67, kPps = 0x68;
const Bytes kSeiUnit = {kSei, 0x05, 0x04, 0x11, 0x22, 0x33, 0x44, 0x80};
const Bytes kAudUnit = {kAud, 0xF0};
const Bytes kSpsUnit = {kSps, 0x64, 0x00, 0x1F, 0xAC};
const Bytes kPpsUnit = {kPps, 0xEE, 0x3C, 0x80};

}  // namespace

struct FormCase {
    std::string what;
    H264PacketForm form;
    Bytes packet;
    bool key;
};

void ExpectCases(const std::vector<FormCase>& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(Key(c.packet, c.form), c.key) << c.what;
    }
}

// A 4-byte length of 261 to 511 is 00 00 01 xx: read as a start code, xx
// = C5 or 65 looks like an IDR header, 41 like a non-IDR slice. In the
// length-prefixed form it is a length and nothing else.
TEST(DemuxH264KeyFrame, LengthPrefixedPacketsReadAlongTheirLengths) {
    const auto four = LengthPrefixedForm(4);
    const Bytes pSlice = {kNonIdr, SliceByte(5)};
    ExpectCases({
        {"P slice of 0x1C5 bytes (length 00 00 01 C5)", four, Prefixed({Unit(kNonIdr, SliceByte(5), 0x1C5)}), false},
        {"P slice of 0x165 bytes (length 00 00 01 65)", four, Prefixed({Unit(kNonIdr, SliceByte(0), 0x165)}), false},
        {"P slice of 0x125 bytes (length 00 00 01 25)", four, Prefixed({Unit(kNonIdr, SliceByte(5), 0x125)}), false},
        {"B slice of 0x1E5 bytes (length 00 00 01 E5)", four, Prefixed({Unit(kNonIdr, SliceByte(6), 0x1E5)}), false},
        {"SEI, then a P slice of 0x1C5 bytes", four,
         Prefixed({kSeiUnit, Unit(kNonIdr, SliceByte(5), 0x1C5)}), false},
        {"P slice whose payload holds 00 00 01 65", four,
         Prefixed({{kNonIdr, SliceByte(5), 0xA5, 0, 0, 1, kIdr, 0x88, 0x80}}), false},
        {"SEI whose payload holds 00 00 00 01 65, then a P slice", four,
         Prefixed({{kSei, 0x05, 0, 0, 0, 1, kIdr, 0x88}, pSlice}), false},
        {"IDR alone", four, Prefixed({{kIdr, 0x88, 0x84, 0x00, 0x33}}), true},
        {"IDR with nal_ref_idc 1", four, Prefixed({{0x25, 0xB8}}), true},
        {"IDR of 0x141 bytes (length 00 00 01 41)", four, Prefixed({Unit(kIdr, 0x88, 0x141)}), true},
        {"AUD, SEI, then IDR", four, Prefixed({kAudUnit, kSeiUnit, {kIdr, 0x88, 0x80}}), true},
        {"AUD, SPS, PPS, SEI, then IDR", four, Prefixed({kAudUnit, kSpsUnit, kPpsUnit, kSeiUnit, {kIdr, 0x88}}), true},
        {"empty unit, then IDR", four, Prefixed({{}, {kIdr, 0x88}}), true},
        {"I slice behind SEI", four, Prefixed({kSeiUnit, {kNonIdr, SliceByte(2), 0}}), true},
        {"I slice (type 7)", four, Prefixed({{kNonIdr, SliceByte(7), 0}}), true},
        {"P slice, then IDR: the first slice decides", four, Prefixed({pSlice, {kIdr, 0x88}}), false},
        {"SEI and nothing else", four, Prefixed({kSeiUnit}), false},
        {"IDR cut short by the end of the packet", four,
         Bytes{0, 0, 0, 9, kIdr, 0x88, 0x80}, true},
        {"length past the end, header missing", four, Bytes{0, 0, 0, 9}, false},
        {"2-byte lengths: AUD, then IDR", LengthPrefixedForm(2), Prefixed({kAudUnit, {kIdr, 0x88}}, 2), true},
        {"2-byte lengths: P slice of 0x165 bytes", LengthPrefixedForm(2), Prefixed({Unit(kNonIdr, SliceByte(5), 0x165)}, 2), false},
        {"1-byte lengths: SEI, then IDR", LengthPrefixedForm(1), Prefixed({kSeiUnit, {kIdr, 0x88}}, 1), true},
        {"1-byte lengths: SEI, then P slice", LengthPrefixedForm(1), Prefixed({kSeiUnit, pSlice}, 1), false},
        {"00 00 01 65 is a length past the end, not a start code", four, Bytes{0, 0, 1, kIdr, 0x88, 0x80}, false},
        {"prefix size 0 is no form", LengthPrefixedForm(0), Prefixed({{kIdr, 0x88}}), false},
        {"prefix size 5 is no form", LengthPrefixedForm(5), Prefixed({{kIdr, 0x88}}), false},
    });
}

TEST(DemuxH264KeyFrame, AnnexBPacketsReadAlongTheirStartCodes) {
    ExpectCases({
        {"IDR behind 00 00 00 01", kAnnexBForm, {0, 0, 0, 1, kIdr, 0x88, 0x80}, true},
        {"IDR behind 00 00 01", kAnnexBForm, {0, 0, 1, kIdr, 0x88, 0x80}, true},
        {"SPS, PPS, then IDR", kAnnexBForm,
         {0, 0, 0, 1, kSps, 0x64, 0x00, 0x1F, 0, 0, 1, kPps, 0xEE, 0x3C, 0, 0, 1, kIdr, 0x88, 0x80}, true},
        {"AUD, SEI, then IDR", kAnnexBForm, {0, 0, 0, 1, kAud, 0xF0, 0, 0, 1, kSei, 0x05, 0x11, 0, 0, 1, kIdr, 0x88, 0x80}, true},
        {"P slice, then IDR: the first slice decides", kAnnexBForm,
         {0, 0, 1, kNonIdr, SliceByte(5), 0x00, 0, 0, 1, kIdr, 0x88, 0x80}, false},
        {"P slice", kAnnexBForm, {0, 0, 0, 1, kNonIdr, SliceByte(0), 0x00}, false},
        {"I slice", kAnnexBForm, {0, 0, 0, 1, kNonIdr, SliceByte(2), 0x00}, true},
        {"start code in the last four bytes", kAnnexBForm, {0xAA, 0xBB, 0, 0, 1, kIdr}, false},
        {"start code just early enough", kAnnexBForm, {0xAA, 0, 0, 1, kIdr, 0x00}, true},
        {"one length-prefixed IDR read as Annex B", kAnnexBForm, Prefixed({{kIdr, 0x88, 0x84}}), false},
    });
}

// The same slice in either form answers alike.
TEST(DemuxH264KeyFrame, SliceTypesOfNonIdrSlices) {
    auto annexB = [](const Bytes& nal) {
        Bytes out = {0, 0, 0, 1};
        out.insert(out.end(), nal.begin(), nal.end());
        return out;
    };
    const std::vector<std::pair<Bytes, bool>> slices = {
        {{kNonIdr, SliceByte(2), 0}, true},   {{kNonIdr, SliceByte(7), 0}, true},
        {{kNonIdr, SliceByte(0), 0}, false},  {{kNonIdr, SliceByte(5), 0}, false},
        {{kNonIdr, SliceByte(1), 0}, false},  {{kNonIdr, SliceByte(6), 0}, false},
        {{kNonIdr, SliceByte(3), 0}, false},  // SP/SI slices tell nothing
        {{kNonIdr, 0b10000010, 0}, false},    // slice_type does not fit in the byte
        {{kNonIdr, 0x00, 0}, false},
        {{kNonIdr, 0b01000100, 0}, false},    // first_mb_in_slice "01", then a code too long
        {{kNonIdr, 0b00101111, 0}, true},     // first_mb_in_slice "001", slice_type 2
        {{kNonIdr}, false},                   // no slice byte to read
    };
    for (size_t i = 0; i < slices.size(); ++i) {
        EXPECT_EQ(Key(annexB(slices[i].first)), slices[i].second) << "Annex B #" << i;
        EXPECT_EQ(Key(Prefixed({slices[i].first}), LengthPrefixedForm(4)), slices[i].second) << "prefixed #" << i;
    }
}

TEST(DemuxH264KeyFrame, ShortAndEmptyBuffers) {
    uint8_t idr[] = {0, 0, 1, kIdr, 0x88};
    for (const auto form : {kAnnexBForm, LengthPrefixedForm(1), LengthPrefixedForm(2), LengthPrefixedForm(4)}) {
        EXPECT_FALSE(IsH264KeyFrame(nullptr, 100, form));
        EXPECT_FALSE(IsH264KeyFrame(idr, 0, form));
        EXPECT_FALSE(IsH264KeyFrame(idr, -5, form));
    }
    EXPECT_FALSE(IsH264KeyFrame(idr, 3, kAnnexBForm));
    EXPECT_FALSE(Key({0, 0, 0, 0}, LengthPrefixedForm(4)));  // an empty unit
    EXPECT_TRUE(Key({0, 0, 0, 1, kIdr}, LengthPrefixedForm(4)));  // an IDR header alone
    EXPECT_TRUE(Key({1, kIdr}, LengthPrefixedForm(1)));
}

// The form from the stream's extradata: an avcC record says how long its
// length prefixes are; anything else is Annex B.
TEST(DemuxH264KeyFrame, FormFromExtradata) {
    struct Case {
        std::string what;
        Bytes extradata;
        kx::H264Framing framing;
        int lengthSize;
    };
    const std::vector<Case> cases = {
        {"avcC, 4-byte lengths", {1, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0, 4, kSps, 0x64, 0, 0x1F}, kx::H264Framing::LengthPrefixed, 4},
        {"avcC, 2-byte lengths", {1, 0x64, 0x00, 0x1F, 0xFD, 0xE1}, kx::H264Framing::LengthPrefixed, 2},
        {"avcC, 1-byte lengths", {1, 0x42, 0xC0, 0x1E, 0xFC, 0xE0}, kx::H264Framing::LengthPrefixed, 1},
        {"Annex B parameter sets", {0, 0, 0, 1, kSps, 0x64, 0x00, 0x1F, 0, 0, 0, 1, kPps, 0xEE}, kx::H264Framing::AnnexB, 0},
        {"no extradata", {}, kx::H264Framing::AnnexB, 0},
        {"avcC cut before its length byte", {1, 0x64, 0x00, 0x1F}, kx::H264Framing::AnnexB, 0},
    };
    for (const auto& c : cases) {
        const H264PacketForm form = H264FormOfExtradata(c.extradata.empty() ? nullptr : c.extradata.data(), c.extradata.size());
        EXPECT_EQ(form.framing, c.framing) << c.what;
        EXPECT_EQ(form.lengthSize, c.lengthSize) << c.what;
    }
}

// Packets of random units (lengths of every size, 00 00 01 xx among them,
// payloads full of start codes): the answer is that of the first slice put
// in, whatever the start codes inside the units say.
TEST(DemuxH264KeyFrame, RandomUnitChainsAnswerByTheirFirstSlice) {
    uint32_t seed = 4242;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    const uint8_t payload[] = {0, 0, 1, 0x65, 0x25, 0xFF, 0x41, 0x9B};
    const uint8_t quiet[] = {kSei, kAud, kSps, kPps};
    int keys = 0, notKeys = 0;
    for (int round = 0; round < 3000; ++round) {
        const int lengthSize = (round % 3 == 0) ? 2 : 4;
        std::vector<Bytes> units;
        for (int n = next() % 4; n > 0; --n) {  // units that tell nothing
            Bytes nal(1 + next() % 40);
            for (auto& byte : nal) byte = payload[next() % sizeof payload];
            nal[0] = quiet[next() % sizeof quiet];
            units.push_back(nal);
        }
        const int kind = next() % 3;  // IDR, I slice, P slice
        const size_t size = 2 + next() % 600;
        Bytes slice(size);
        for (auto& byte : slice) byte = payload[next() % sizeof payload];
        slice[0] = kind == 0 ? kIdr : kNonIdr;
        slice[1] = kind == 1 ? SliceByte(2) : SliceByte(kind == 0 ? 7 : 5);
        units.push_back(slice);
        const bool expected = kind != 2;
        (expected ? keys : notKeys) += 1;
        ASSERT_EQ(Key(Prefixed(units, lengthSize), LengthPrefixedForm(lengthSize)), expected) << "round " << round;
    }
    EXPECT_GT(keys, 500);
    EXPECT_GT(notKeys, 500);
}

namespace {

// The Annex B test as first written, a byte-by-byte walk: the vector search
// must answer exactly as it does.
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
    return size >= 4 && ReferenceScan(b.data(), size) == 1;
}

}  // namespace

// Annex B buffers dense in 00 and 01 bytes and NAL headers, so that start
// codes fall at every offset, near both ends and across the 16-byte blocks
// of the vector search.
TEST(DemuxH264KeyFrame, AnswersAsTheByteByByteWalk) {
    const uint8_t alphabet[] = {0, 0, 0, 1, 1, 0x65, 0x41, 0x25, 0x06, 0x67, 0x88, 0xFF, 0x9B, 0x2F};
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    int keys = 0;
    for (int round = 0; round < 40000; ++round) {
        Bytes b(next() % 64);
        for (auto& byte : b) byte = alphabet[next() % sizeof alphabet];
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
