// The picture order count read from slice headers: written streams with
// known counts (wrapping, reference and non-reference pictures, IDR resets,
// frame_num counting, field offsets, escaped bytes), in both packet forms;
// and real encodes, whose stored times must sort the pictures as the counts do.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/AnnexBRemnant.h"
#include "input/H264PictureOrder.h"
#include "ProgramStreamMedia.h"
#include "TestSupport.h"

using kx::H264PictureOrder;

namespace {

// Writes the bits of one NAL unit, escaping 00 00 0x as encoders do.
class BitWriter {
public:
    void Bits(uint64_t value, int n) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    }
    void Bit(int bit) { Bits(bit, 1); }
    void Ue(uint32_t value) {
        const int length = std::bit_width(uint64_t{value} + 1) - 1;
        Bits(0, length);
        Bits(uint64_t{value} + 1, length + 1);
    }
    void Se(int32_t value) { Ue(value > 0 ? 2 * value - 1 : -2 * value); }
    std::vector<uint8_t> Unit(uint8_t header) {
        Bit(1);  // stop bit
        while (bits_.size() % 8) Bit(0);
        std::vector<uint8_t> unit{header};
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

enum class Coding { kLsb = 0, kCycles = 1, kFrameNum = 2 };

struct Seq {
    int profile = 66;
    int frameNumBits = 4;
    Coding coding = Coding::kLsb;
    int lsbBits = 4;
    bool scalingLists = false;
    bool frameMbsOnly = true;
    bool bottomFieldOrder = false;  // the PPS's bottom_field_pic_order_in_frame_present
};

struct Pic {
    bool idr = false;
    bool reference = true;
    uint32_t frameNum = 0;
    uint32_t lsb = 0;
    int32_t bottomDelta = 0;
    bool field = false;
};

Pic Idr(uint32_t lsb = 0) { return Pic{true, true, 0, lsb}; }
Pic Ref(uint32_t lsb, uint32_t frameNum = 0) { return Pic{false, true, frameNum, lsb}; }
Pic NonRef(uint32_t lsb, uint32_t frameNum = 0) { return Pic{false, false, frameNum, lsb}; }

std::vector<uint8_t> SeqParams(const Seq& s) {
    BitWriter w;
    w.Bits(s.profile, 8);
    w.Bits(0, 8);
    w.Bits(30, 8);
    w.Ue(0);
    if (s.profile == 100) {
        w.Ue(1);  // 4:2:0
        w.Ue(0);
        w.Ue(0);
        w.Bit(0);
        w.Bit(s.scalingLists);
        for (int i = 0; s.scalingLists && i < 8; ++i) {
            w.Bit(i == 0 || i == 6);  // a 4x4 and an 8x8 list
            if (i == 0)
                for (int j = 0; j < 16; ++j) w.Se(j % 3 - 1);
            if (i == 6)
                for (int j = 0; j < 64; ++j) w.Se(j == 0 ? 8 : 0);
        }
    }
    w.Ue(s.frameNumBits - 4);
    w.Ue(static_cast<uint32_t>(s.coding));
    if (s.coding == Coding::kLsb) w.Ue(s.lsbBits - 4);
    if (s.coding == Coding::kCycles) {
        w.Bit(0);
        w.Se(0);
        w.Se(0);
        w.Ue(1);
        w.Se(2);
    }
    w.Ue(2);  // reference frames
    w.Bit(0);
    w.Ue(19);
    w.Ue(14);
    w.Bit(s.frameMbsOnly);
    if (!s.frameMbsOnly) w.Bit(1);  // macroblock-adaptive frame/field
    w.Bit(1);
    w.Bit(0);
    w.Bit(0);
    return w.Unit(0x67);
}

std::vector<uint8_t> PicParams(const Seq& s) {
    BitWriter w;
    w.Ue(0);
    w.Ue(0);
    w.Bit(0);
    w.Bit(s.bottomFieldOrder);
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
        w.Bit(p.field);
        if (p.field) w.Bit(0);
    }
    if (p.idr) w.Ue(0);
    if (s.coding == Coding::kLsb) {
        w.Bits(p.lsb, s.lsbBits);
        if (s.bottomFieldOrder && !p.field) w.Se(p.bottomDelta);
    }
    w.Bits(0xA5, 8);  // the rest of the slice
    const uint8_t refIdc = p.reference ? 0x60 : 0x00;
    return w.Unit(static_cast<uint8_t>(refIdc | (p.idr ? 5 : 1)));
}

void AppendAnnexB(std::vector<uint8_t>& packet, const std::vector<uint8_t>& unit) {
    packet.insert(packet.end(), {0, 0, 0, 1});
    packet.insert(packet.end(), unit.begin(), unit.end());
}

void AppendPrefixed(std::vector<uint8_t>& packet, const std::vector<uint8_t>& unit) {
    const auto size = static_cast<uint32_t>(unit.size());
    packet.insert(packet.end(), {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
    packet.insert(packet.end(), unit.begin(), unit.end());
}

std::vector<uint8_t> AvcC(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps) {
    std::vector<uint8_t> record{1, sps[1], sps[2], sps[3], 0xFF, 0xE1};
    record.push_back(uint8_t(sps.size() >> 8));
    record.push_back(uint8_t(sps.size()));
    record.insert(record.end(), sps.begin(), sps.end());
    record.push_back(1);
    record.push_back(uint8_t(pps.size() >> 8));
    record.push_back(uint8_t(pps.size()));
    record.insert(record.end(), pps.begin(), pps.end());
    return record;
}

struct Read {
    std::vector<int64_t> orders;
    std::vector<bool> starts;
    int unknown = 0;

    void Add(const std::optional<kx::H264Picture>& picture) {
        if (!picture) {
            ++unknown;
            return;
        }
        orders.push_back(picture->order);
        starts.push_back(picture->startsSequence);
    }
};

// The pictures as Annex B packets, parameter sets in front of the first.
Read ReadAnnexB(const Seq& s, const std::vector<Pic>& pics) {
    H264PictureOrder order;
    Read read;
    for (size_t i = 0; i < pics.size(); ++i) {
        std::vector<uint8_t> packet;
        if (i == 0) {
            AppendAnnexB(packet, SeqParams(s));
            AppendAnnexB(packet, PicParams(s));
        }
        AppendAnnexB(packet, Slice(s, pics[i]));
        read.Add(order.Next(packet.data(), packet.size(), kx::kAnnexBForm));
    }
    return read;
}

// The same with length prefixes, parameter sets in an avcC record.
Read ReadPrefixed(const Seq& s, const std::vector<Pic>& pics) {
    H264PictureOrder order;
    const auto record = AvcC(SeqParams(s), PicParams(s));
    order.TakeExtradata(record.data(), record.size());
    Read read;
    for (const Pic& pic : pics) {
        std::vector<uint8_t> packet;
        AppendPrefixed(packet, Slice(s, pic));
        read.Add(order.Next(packet.data(), packet.size(), kx::LengthPrefixedForm(4)));
    }
    return read;
}

struct OrderCase {
    const char* name;
    Seq seq;
    std::vector<Pic> pics;
    std::vector<int64_t> want;
};

Seq WithBits(int frameNumBits, Coding coding, int lsbBits) {
    Seq s;
    s.frameNumBits = frameNumBits;
    s.coding = coding;
    s.lsbBits = lsbBits;
    return s;
}

}  // namespace

TEST(DemuxPictureOrder, CountsOfWrittenStreams) {
    Seq high;
    high.profile = 100;
    high.scalingLists = true;
    Seq fields;
    fields.bottomFieldOrder = true;
    Seq interlaced;
    interlaced.frameMbsOnly = false;
    Pic fieldPic = Ref(6);
    fieldPic.field = true;
    Pic bottomFirst = Ref(4);
    bottomFirst.bottomDelta = -1;
    Pic bottomLater = Ref(8);
    bottomLater.bottomDelta = 1;
    const std::vector<OrderCase> cases = {
        // 4 bits of lsb: the count runs on past 15 and a late non-reference
        // picture reaches back below the last reference's wrap.
        {"lsb wraps", Seq{}, {Idr(), Ref(6), NonRef(2), Ref(12), NonRef(8), Ref(2), NonRef(14), Ref(8)},
         {0, 6, 2, 12, 8, 18, 14, 24}},
        // Only reference pictures move the base the next count is read against.
        {"non-reference pictures", Seq{},
         {Idr(), Ref(8), NonRef(4), NonRef(6), Ref(14), NonRef(12), Ref(4), NonRef(0)}, {0, 8, 4, 6, 14, 12, 20, 16}},
        {"IDR counts from 0", Seq{}, {Idr(), Ref(4), Ref(8), Idr(), Ref(2)}, {0, 4, 8, 0, 2}},
        // Counted by frame_num: twice the frame number, one less for a
        // non-reference picture, frame_num wrapping at 16.
        {"frame_num counting", WithBits(4, Coding::kFrameNum, 4),
         {Idr(), Ref(0, 1), Ref(0, 15), Ref(0, 0), NonRef(0, 1), Ref(0, 1)}, {0, 2, 30, 32, 33, 34}},
        {"bottom field first", fields, {Idr(), bottomFirst, bottomLater}, {0, 3, 8}},
        {"scaling lists in the sequence set", high, {Idr(), Ref(4), NonRef(2)}, {0, 4, 2}},
        {"field pictures", interlaced, {Idr(), Ref(4), NonRef(2), fieldPic}, {0, 4, 2, 6}},
        // 16-bit frame_num and lsb of 0 and 1: the header holds 00 00 00,
        // written as 00 00 03 00.
        {"escaped bytes", WithBits(16, Coding::kLsb, 16), {Idr(), Ref(1)}, {0, 1}},
    };
    for (const auto& c : cases) {
        for (const bool prefixed : {false, true}) {
            const Read read = prefixed ? ReadPrefixed(c.seq, c.pics) : ReadAnnexB(c.seq, c.pics);
            const std::string what = std::string(c.name) + (prefixed ? " (length prefixes)" : " (Annex B)");
            EXPECT_EQ(read.unknown, 0) << what;
            EXPECT_EQ(read.orders, c.want) << what;
            for (size_t i = 0; i < read.starts.size() && i < c.pics.size(); ++i)
                EXPECT_EQ(read.starts[i], c.pics[i].idr) << what << " picture " << i;
        }
    }
    const auto escaped = Slice(WithBits(16, Coding::kLsb, 16), Ref(1));
    const std::vector<uint8_t> escape{0, 0, 3};
    EXPECT_NE(std::search(escaped.begin(), escaped.end(), escape.begin(), escape.end()), escaped.end())
        << "the escaped case holds no escape";
}

// After a seek the first picture read begins a sequence of its own: its count
// is taken as it stands, and the next ones follow from it.
TEST(DemuxPictureOrder, ResetStartsFromThePictureRead) {
    const Seq s;
    H264PictureOrder order;
    auto next = [&](const Pic& pic, bool sets) {
        std::vector<uint8_t> packet;
        if (sets) {
            AppendAnnexB(packet, SeqParams(s));
            AppendAnnexB(packet, PicParams(s));
        }
        AppendAnnexB(packet, Slice(s, pic));
        return order.Next(packet.data(), packet.size(), kx::kAnnexBForm);
    };
    ASSERT_TRUE(next(Idr(), true));
    ASSERT_TRUE(next(Ref(8), false));
    order.Reset();
    const auto first = next(Ref(12), false);  // the parameter sets are kept
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->startsSequence);
    EXPECT_EQ(first->order, 12);
    const auto wrapped = next(Ref(2), false);
    ASSERT_TRUE(wrapped);
    EXPECT_FALSE(wrapped->startsSequence);
    EXPECT_EQ(wrapped->order, 18);
}

// Real encodes (B-frames, open groups, no B-frames; MP4 with length prefixes
// and transport streams with start codes): inside each sequence the counts
// sort the pictures as their stored presentation times do.
TEST(DemuxPictureOrder, CountsSortPicturesAsTheirTimes) {
    for (const std::string& file :
         {kxtest::Fixture("h264_bframes_opengop.mp4"), kxtest::Fixture("h264_aac.mp4"), pstest::Made("bframes").first,
          pstest::Made("long_gop").first, pstest::Made("open_gop").first}) {
        AVFormatContext* format = nullptr;
        if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) != 0) {
            ADD_FAILURE() << "cannot open " << file;
            continue;
        }
        ASSERT_GE(avformat_find_stream_info(format, nullptr), 0) << file;
        const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        ASSERT_GE(video, 0) << file;
        const AVCodecParameters* codec = format->streams[video]->codecpar;
        H264PictureOrder order;
        order.TakeExtradata(codec->extradata, static_cast<size_t>(std::max(codec->extradata_size, 0)));
        const kx::H264PacketForm form = kx::H264FormOfStream(codec);
        std::map<int, std::vector<std::pair<int64_t, int64_t>>> sequences;  // (count, pts) per sequence
        int sequence = 0;
        int pictures = 0;
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == video) {
                const auto picture = order.Next(packet->data, static_cast<size_t>(packet->size), form);
                EXPECT_TRUE(picture) << file << " packet " << pictures;
                if (picture) {
                    sequence += picture->startsSequence;
                    sequences[sequence].emplace_back(picture->order, packet->pts);
                }
                ++pictures;
            }
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        avformat_close_input(&format);
        EXPECT_GT(pictures, 100) << file;
        for (auto& [number, pics] : sequences) {
            auto byCount = pics;
            auto byTime = pics;
            std::sort(byCount.begin(), byCount.end());
            std::sort(byTime.begin(), byTime.end(), [](auto& a, auto& b) { return a.second < b.second; });
            EXPECT_EQ(byCount, byTime) << file << " sequence " << number;
        }
    }
}
