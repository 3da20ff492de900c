// The display order of H.264 pictures, read from their slice headers (the
// picture order count). Program streams give a presentation time only to the
// pictures that begin a PES packet carrying one; the others get theirs from
// this order against a picture whose time is known (PacketTimeFill).
//
// Kept small: parameter sets are read only up to the fields the slice header
// needs, and the slice header only up to its order fields. Streams that code
// the order with cycles of offsets (pic_order_cnt_type 1) and the rare reset
// of the count inside a sequence (memory management operation 5) are not
// followed: such packets get no order, or a count that keeps its offset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "input/H264PacketForm.h"

namespace kx {

struct H264Picture {
    int64_t order = 0;            // rises with display order inside one sequence
    bool startsSequence = false;  // an IDR picture, or the first picture after Reset
};

class H264PictureOrder {
public:
    // Parameter sets from the stream's extradata: Annex B or an avcC record.
    void TakeExtradata(const uint8_t* data, size_t size);

    // Reads one packet in its form: parameter sets in it are kept, and its
    // first slice gives the picture. None for a packet without a slice, or a
    // slice whose parameter sets are unknown or whose header cannot be read.
    std::optional<H264Picture> Next(const uint8_t* data, size_t size, H264PacketForm form);

    // After a seek: the next picture's count is not related to the last one's.
    void Reset();

private:
    enum class OrderCoding { kLsb, kCycles, kFrameNum };  // pic_order_cnt_type 0, 1, 2

    struct SeqParams {
        int log2MaxFrameNum = 4;
        OrderCoding coding = OrderCoding::kLsb;
        int log2MaxOrderLsb = 4;
        bool frameMbsOnly = true;
        bool separateColourPlane = false;
    };
    struct PicParams {
        int seqId = 0;
        bool bottomFieldOrderPresent = false;
    };
    // What the count of the next picture is worked out from.
    struct History {
        bool known = false;
        int64_t prevMsb = 0;
        uint32_t prevLsb = 0;
        int64_t frameNumOffset = 0;
        uint32_t prevFrameNum = 0;
    };

    void ReadSeqParams(const uint8_t* payload, size_t size);
    void ReadPicParams(const uint8_t* payload, size_t size);
    std::optional<H264Picture> ReadSlice(const uint8_t* unit, size_t size);

    static constexpr int kSeqIds = 32;
    static constexpr int kPicIds = 256;
    std::array<std::optional<SeqParams>, kSeqIds> seqs_;
    std::array<std::optional<PicParams>, kPicIds> pics_;
    History history_;
};

}  // namespace kx
