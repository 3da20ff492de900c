// The picture order count read from slice headers, on written streams of
// what x264 never writes: scaling lists in the sequence set, field pictures,
// a bottom field count, escaped header bytes. The counts of real encodes
// (by lsb and by frame_num, both wrapping, IDR resets, open groups) give the
// untimed pictures of program streams their times, which
// DemuxReader.ProgramStreamReadsAsItsTransportStream holds to the transport
// stream's; fuzz_picture_order reads arbitrary bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <string>
#include <vector>

#include "input/H264PictureOrder.h"

using kx::H264PictureOrder;

namespace {

// Writes the bits of one NAL unit, escaping 00 00 0x as encoders do.
class BitWriter {
public:
    void Bits(uint64_t value, int n) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    }
    void Ue(uint32_t value) {
        const int length = std::bit_width(uint64_t{value} + 1) - 1;
        Bits(0, length);
        Bits(uint64_t{value} + 1, length + 1);
    }
    void Se(int32_t value) { Ue(value > 0 ? 2 * value - 1 : -2 * value); }
    // The unit behind a start code.
    std::vector<uint8_t> Unit(uint8_t header) {
        Bits(1, 1);  // stop bit
        while (bits_.size() % 8) Bits(0, 1);
        std::vector<uint8_t> unit{0, 0, 0, 1, header};
        int zeros = 0;
        for (size_t i = 0; i < bits_.size(); i += 8) {
            uint8_t byte = 0;
            for (size_t j = i; j < i + 8; ++j) byte = static_cast<uint8_t>(byte << 1 | bits_[j]);
            if (zeros >= 2 && byte <= 3) {
                unit.push_back(3);
                zeros = 0;
            }
            unit.push_back(byte);
            zeros = byte == 0 ? zeros + 1 : 0;
        }
        return unit;
    }

private:
    std::vector<bool> bits_;
};

// Counted by pic_order_cnt_lsb (type 0).
struct Seq {
    bool scalingLists = false;  // High profile with a 4x4 and an 8x8 list
    bool frameMbsOnly = true;
    bool bottomFieldOrder = false;  // the PPS's bottom_field_pic_order_in_frame_present
    int frameNumBits = 4;
    int lsbBits = 4;
};

struct Pic {
    bool idr = false;
    uint32_t frameNum = 0;
    uint32_t lsb = 0;
    int32_t bottomDelta = 0;
    bool field = false;
    bool reference = true;
};

std::vector<uint8_t> SeqParams(const Seq& s) {
    BitWriter w;
    w.Bits(s.scalingLists ? 100 : 66, 8);
    w.Bits(30, 16);  // constraints, level
    w.Ue(0);
    if (s.scalingLists) {
        w.Ue(1);  // 4:2:0
        w.Ue(0);
        w.Ue(0);
        w.Bits(0, 1);
        w.Bits(1, 1);
        for (int i = 0; i < 8; ++i) {
            w.Bits(i == 0 || i == 6, 1);
            for (int j = 0; i == 0 && j < 16; ++j) w.Se(j % 3 - 1);
            for (int j = 0; i == 6 && j < 64; ++j) w.Se(j == 0 ? 8 : 0);
        }
    }
    w.Ue(s.frameNumBits - 4);
    w.Ue(0);
    w.Ue(s.lsbBits - 4);
    w.Ue(2);  // reference frames
    w.Bits(0, 1);
    w.Ue(19);
    w.Ue(14);
    w.Bits(s.frameMbsOnly, 1);
    if (!s.frameMbsOnly) w.Bits(1, 1);  // macroblock-adaptive frame/field
    w.Bits(0b100, 3);
    return w.Unit(0x67);
}

std::vector<uint8_t> PicParams(const Seq& s) {
    BitWriter w;
    w.Ue(0);
    w.Ue(0);
    w.Bits(0, 1);
    w.Bits(s.bottomFieldOrder, 1);
    w.Ue(0);
    w.Ue(0);
    w.Ue(0);
    return w.Unit(0x68);
}

std::vector<uint8_t> Slice(const Seq& s, const Pic& p) {
    BitWriter w;
    w.Ue(0);
    w.Ue(p.idr ? 7 : p.reference ? 5 : 6);  // I, P, B
    w.Ue(0);
    w.Bits(p.frameNum, s.frameNumBits);
    if (!s.frameMbsOnly) {
        w.Bits(p.field, 1);
        if (p.field) w.Bits(0, 1);
    }
    if (p.idr) w.Ue(0);
    w.Bits(p.lsb, s.lsbBits);
    if (s.bottomFieldOrder && !p.field) w.Se(p.bottomDelta);
    w.Bits(0xA5, 8);  // the rest of the slice
    return w.Unit(static_cast<uint8_t>((p.reference ? 0x60 : 0) | (p.idr ? 5 : 1)));
}

}  // namespace

TEST(DemuxPictureOrder, CountsOfWrittenStreams) {
    struct Case {
        const char* name;
        Seq seq;
        std::vector<Pic> pics;
        std::vector<int64_t> want;
    };
    const Pic idr{.idr = true};
    const Case cases[] = {
        {"scaling lists in the sequence set",
         {.scalingLists = true},
         {idr, {.lsb = 4}, {.lsb = 2, .reference = false}},
         {0, 4, 2}},
        {"bottom field first and later",
         {.bottomFieldOrder = true},
         {idr, {.lsb = 4, .bottomDelta = -1}, {.lsb = 8, .bottomDelta = 1}},
         {0, 3, 8}},
        {"field pictures",
         {.frameMbsOnly = false},
         {idr, {.lsb = 4}, {.lsb = 2, .reference = false}, {.lsb = 6, .field = true}},
         {0, 4, 2, 6}},
        // 16-bit frame_num and lsb of 0 and 1: the header holds 00 00 00,
        // written as 00 00 03 00.
        {"escaped bytes", {.frameNumBits = 16, .lsbBits = 16}, {idr, {.lsb = 1}}, {0, 1}},
    };
    for (const auto& c : cases) {
        H264PictureOrder order;
        std::vector<int64_t> got;
        for (size_t i = 0; i < c.pics.size(); ++i) {
            std::vector<uint8_t> packet = i ? std::vector<uint8_t>{} : SeqParams(c.seq);
            if (!i) std::ranges::copy(PicParams(c.seq), std::back_inserter(packet));
            std::ranges::copy(Slice(c.seq, c.pics[i]), std::back_inserter(packet));
            const auto picture = order.Next(packet.data(), packet.size(), kx::kAnnexBForm);
            ASSERT_TRUE(picture) << c.name << " picture " << i;
            EXPECT_EQ(picture->startsSequence, c.pics[i].idr) << c.name << " picture " << i;
            got.push_back(picture->order);
        }
        EXPECT_EQ(got, c.want) << c.name;
    }
    const auto escaped = Slice({.frameNumBits = 16, .lsbBits = 16}, {.lsb = 1});
    const std::vector<uint8_t> escape{0, 0, 3};
    EXPECT_NE(std::ranges::search(escaped, escape).begin(), escaped.end()) << "the escaped case holds no escape";
}
