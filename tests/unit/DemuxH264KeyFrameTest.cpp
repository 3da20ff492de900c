// Key frames told from packet bytes; fuzz_h264_keyframe holds the Annex B
// search to a byte-by-byte walk and length-prefixed chains to their first
// slice, and KeyFrameQuery holds real P-frames whose 4-byte lengths read as
// 00 00 01 xx (small_pframes) to ffprobe's key packets.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "input/H264KeyFrame.h"

using kx::kAnnexBForm;
using kx::LengthPrefixedForm;

namespace {

using Bytes = std::vector<uint8_t>;

// The byte after a slice header: first_mb_in_slice = 0 ("1"), then slice_type
// as Exp-Golomb, padded with ones.
uint8_t SliceByte(int sliceType) {
    const unsigned code = sliceType + 1;
    int bits = 0;
    while ((code >> bits) > 1) ++bits;
    const unsigned value = (1u << (2 * bits + 1)) | code;
    const int used = 2 * bits + 2;
    return static_cast<uint8_t>((value << (8 - used)) | ((1u << (8 - used)) - 1));
}

// Units one after another, each behind a big-endian length of lengthSize bytes.
Bytes Prefixed(const std::vector<Bytes>& units, int lengthSize = 4) {
    Bytes out;
    for (const Bytes& nal : units) {
        for (int k = lengthSize - 1; k >= 0; --k) out.push_back(static_cast<uint8_t>(nal.size() >> (8 * k)));
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

// A unit of `size` bytes: the header, the slice byte, then filler without zeros.
Bytes Unit(uint8_t header, uint8_t second, size_t size) {
    Bytes nal(size, 0xA5);
    nal[0] = header;
    nal[1] = second;
    return nal;
}

constexpr uint8_t kIdr = 0x65, kNonIdr = 0x41, kSps = 0x67, kPps = 0x68;
const Bytes kSeiUnit = {0x06, 0x05, 0x04, 0x11, 0x22, 0x33, 0x44, 0x80};

}  // namespace

// A 4-byte length of 261 to 511 is 00 00 01 xx: read as a start code, xx
// = C5 or 65 looks like an IDR header, 41 like a non-IDR slice. In the
// length-prefixed form it is a length and nothing else.
TEST(DemuxH264KeyFrame, PacketsAreReadInTheirOwnFormOnly) {
    const auto four = LengthPrefixedForm(4);
    const Bytes pSlice = {kNonIdr, SliceByte(5)};
    struct Case {
        const char* what;
        kx::H264PacketForm form;
        Bytes packet;
        bool key;
    };
    const Case cases[] = {
        {"IDR of 0x141 bytes (length 00 00 01 41)", four, Prefixed({Unit(kIdr, 0x88, 0x141)}), true},
        {"empty unit, then IDR", four, Prefixed({{}, {kIdr, 0x88}}), true},
        {"I slice (type 2) behind SEI", four, Prefixed({kSeiUnit, {kNonIdr, SliceByte(2), 0}}), true},
        {"P slice, then IDR: the first slice decides", four, Prefixed({pSlice, {kIdr, 0x88}}), false},
        {"IDR cut short by the end of the packet", four, {0, 0, 0, 9, kIdr, 0x88, 0x80}, true},
        {"length past the end, header missing", four, {0, 0, 0, 9}, false},
        {"2-byte lengths: P slice of 0x165 bytes", LengthPrefixedForm(2),
         Prefixed({Unit(kNonIdr, SliceByte(5), 0x165)}, 2), false},
        {"00 00 01 65 is a length past the end, not a start code", four, {0, 0, 1, kIdr, 0x88, 0x80}, false},
        {"prefix size 5 is no form", LengthPrefixedForm(5), Prefixed({{kIdr, 0x88}}), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kx::IsH264KeyFrame(c.packet.data(), static_cast<int>(c.packet.size()), c.form), c.key) << c.what;
    const uint8_t idr[] = {0, 0, 1, kIdr, 0x88};
    for (const auto form : {kAnnexBForm, LengthPrefixedForm(1), LengthPrefixedForm(4)}) {
        EXPECT_FALSE(kx::IsH264KeyFrame(nullptr, 100, form));
        EXPECT_FALSE(kx::IsH264KeyFrame(idr, -5, form));
    }
}

// The form from the stream's extradata: an avcC record says how long its
// length prefixes are; anything else is Annex B.
TEST(DemuxH264KeyFrame, FormFromExtradata) {
    struct Case {
        const char* what;
        Bytes extradata;
        int lengthSize;  // 0: Annex B
    };
    const Case cases[] = {
        {"avcC, 4-byte lengths", {1, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0, 4, kSps, 0x64, 0, 0x1F}, 4},
        {"avcC, 2-byte lengths", {1, 0x64, 0x00, 0x1F, 0xFD, 0xE1}, 2},
        {"avcC, 1-byte lengths", {1, 0x42, 0xC0, 0x1E, 0xFC, 0xE0}, 1},
        {"Annex B parameter sets", {0, 0, 0, 1, kSps, 0x64, 0x00, 0x1F, 0, 0, 0, 1, kPps, 0xEE}, 0},
        {"no extradata", {}, 0},
        {"avcC cut before its length byte", {1, 0x64, 0x00, 0x1F}, 0},
    };
    for (const auto& c : cases) {
        const auto form =
            kx::H264FormOfExtradata(c.extradata.empty() ? nullptr : c.extradata.data(), c.extradata.size());
        EXPECT_EQ(form.framing, c.lengthSize ? kx::H264Framing::LengthPrefixed : kx::H264Framing::AnnexB) << c.what;
        EXPECT_EQ(form.lengthSize, c.lengthSize) << c.what;
    }
}
