#include "input/H264PictureOrder.h"

#include "input/H264NalTypes.h"
#include "input/H264SpsSyntax.h"
#include "input/RbspBitReader.h"

namespace kx {

namespace {

constexpr uint8_t kForbiddenBit = 0x80;
constexpr int kRefIdcShift = 5;
constexpr uint8_t kRefIdcMask = 0x03;

constexpr uint32_t kMaxLog2Minus4 = 12;  // log2_max_frame_num and log2_max_pic_order_cnt_lsb go up to 16
constexpr uint32_t kMaxSliceType = 9;
constexpr uint32_t kMaxOrderType = 2;
constexpr uint32_t kMaxCycleLength = 255;


// Calls visit(unit, size) for each NAL unit, header byte first, until it
// answers false. Length-prefixed units are walked by their lengths; in
// Annex B a unit is given up to the end of the buffer, as finding where it
// ends would mean reading all of a slice to know its header.
template <typename Visit>
void WalkUnits(const uint8_t* d, size_t size, H264PacketForm form, Visit visit) {
    if (form.framing == H264Framing::LengthPrefixed) {
        const auto prefix = static_cast<size_t>(form.lengthSize);
        if (prefix < 1 || prefix > 4) return;
        for (size_t pos = 0; pos + prefix < size;) {
            size_t length = 0;
            for (size_t k = 0; k < prefix; ++k) length = (length << 8) | d[pos + k];
            pos += prefix;
            if (length > size - pos) length = size - pos;
            if (length > 0 && !visit(d + pos, length)) return;
            pos += length;
        }
        return;
    }
    for (size_t i = 0; i + 3 < size; ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
        if (!visit(d + i + 3, size - i - 3)) return;
        i += 2;
    }
}

}  // namespace

void H264PictureOrder::TakeExtradata(const uint8_t* data, size_t size) {
    if (!data || size == 0) return;
    auto take = [this](const uint8_t* unit, size_t n) {
        if (H264NalTypeOf(unit[0]) == H264NalType::kSps) ReadSeqParams(unit + 1, n - 1);
        if (H264NalTypeOf(unit[0]) == H264NalType::kPps) ReadPicParams(unit + 1, n - 1);
        return true;
    };
    constexpr uint8_t kAvcCVersion = 1;
    if (data[0] != kAvcCVersion) {
        WalkUnits(data, size, kAnnexBForm, take);
        return;
    }
    // avcC: 5 bytes, then SPS count (low 5 bits) and SPSs, PPS count and PPSs,
    // each set behind a 16-bit length.
    size_t pos = 5;
    for (int list = 0; list < 2 && pos < size; ++list) {
        const int count = list == 0 ? (data[pos] & 0x1F) : data[pos];
        ++pos;
        for (int k = 0; k < count && pos + 2 <= size; ++k) {
            const size_t length = (size_t{data[pos]} << 8) | data[pos + 1];
            pos += 2;
            if (length == 0 || length > size - pos) return;
            take(data + pos, length);
            pos += length;
        }
    }
}

void H264PictureOrder::Reset() { history_ = History{}; }

void H264PictureOrder::ReadSeqParams(const uint8_t* payload, size_t size) {
    RbspBitReader bits(payload, size);
    SeqParams params;
    const std::optional<H264SpsStart> start = ReadH264SpsStart(bits);
    if (!start) return;
    const uint32_t id = start->id;
    params.separateColourPlane = start->separateColourPlane;
    const uint32_t frameNumBits = bits.Ue();
    const uint32_t orderType = bits.Ue();
    if (!bits.Ok() || id >= kSeqIds || frameNumBits > kMaxLog2Minus4 || orderType > kMaxOrderType) return;
    params.log2MaxFrameNum = static_cast<int>(frameNumBits) + 4;
    params.coding = static_cast<OrderCoding>(orderType);
    if (params.coding == OrderCoding::kLsb) {
        const uint32_t lsbBits = bits.Ue();
        if (lsbBits > kMaxLog2Minus4) return;
        params.log2MaxOrderLsb = static_cast<int>(lsbBits) + 4;
    } else if (params.coding == OrderCoding::kCycles) {
        bits.Flag();  // delta_pic_order_always_zero
        bits.Se();
        bits.Se();
        const uint32_t cycle = bits.Ue();
        if (cycle > kMaxCycleLength) return;
        for (uint32_t i = 0; i < cycle && bits.Ok(); ++i) bits.Se();
    }
    bits.Ue();    // reference frames
    bits.Flag();  // gaps in frame_num allowed
    bits.Ue();    // width in macroblocks
    bits.Ue();    // height in map units
    params.frameMbsOnly = bits.Flag();
    if (!bits.Ok()) return;
    seqs_[id] = params;
}

void H264PictureOrder::ReadPicParams(const uint8_t* payload, size_t size) {
    RbspBitReader bits(payload, size);
    const uint32_t id = bits.Ue();
    const uint32_t seqId = bits.Ue();
    bits.Flag();  // entropy coding mode
    const bool bottomFieldOrderPresent = bits.Flag();
    if (!bits.Ok() || id >= kPicIds || seqId >= kSeqIds) return;
    pics_[id] = PicParams{static_cast<int>(seqId), bottomFieldOrderPresent};
}

std::optional<H264Picture> H264PictureOrder::ReadSlice(const uint8_t* unit, size_t size) {
    const bool idr = H264NalTypeOf(unit[0]) == H264NalType::kIdrSlice;
    const bool reference = ((unit[0] >> kRefIdcShift) & kRefIdcMask) != 0;
    RbspBitReader bits(unit + 1, size - 1);
    bits.Ue();  // first macroblock
    const uint32_t sliceType = bits.Ue();
    const uint32_t picId = bits.Ue();
    if (!bits.Ok() || sliceType > kMaxSliceType || picId >= kPicIds || !pics_[picId]) return std::nullopt;
    const PicParams& pic = *pics_[picId];
    if (!seqs_[pic.seqId]) return std::nullopt;
    const SeqParams& seq = *seqs_[pic.seqId];
    if (seq.coding == OrderCoding::kCycles) return std::nullopt;

    if (seq.separateColourPlane) bits.Bits(2);
    const uint32_t frameNum = bits.Bits(seq.log2MaxFrameNum);
    bool field = false;
    if (!seq.frameMbsOnly) {
        field = bits.Flag();
        if (field) bits.Flag();  // bottom field
    }
    if (idr) bits.Ue();  // idr_pic_id
    uint32_t lsb = 0;
    int32_t bottomDelta = 0;
    if (seq.coding == OrderCoding::kLsb) {
        lsb = bits.Bits(seq.log2MaxOrderLsb);
        if (pic.bottomFieldOrderPresent && !field) bottomDelta = bits.Se();
    }
    if (!bits.Ok()) return std::nullopt;

    H264Picture picture;
    picture.startsSequence = idr || !history_.known;
    if (picture.startsSequence) {
        // An IDR counts from 0; after a seek the first picture read is taken
        // as where the count stands, which keeps the differences right.
        history_ = History{};
        history_.known = true;
        history_.prevLsb = idr ? 0 : lsb;
        history_.prevFrameNum = idr ? 0 : frameNum;
    }
    if (seq.coding == OrderCoding::kLsb) {
        const int64_t maxLsb = int64_t{1} << seq.log2MaxOrderLsb;
        int64_t msb = history_.prevMsb;
        const int64_t prev = history_.prevLsb;
        if (lsb < prev && prev - lsb >= maxLsb / 2)
            msb += maxLsb;
        else if (lsb > prev && lsb - prev > maxLsb / 2)
            msb -= maxLsb;
        const int64_t top = msb + lsb;
        picture.order = bottomDelta < 0 ? top + bottomDelta : top;
        if (reference) {
            history_.prevMsb = msb;
            history_.prevLsb = lsb;
        }
        return picture;
    }
    // Counted by frame_num: display order is decoding order.
    const int64_t maxFrameNum = int64_t{1} << seq.log2MaxFrameNum;
    if (!idr && history_.prevFrameNum > frameNum) history_.frameNumOffset += maxFrameNum;
    history_.prevFrameNum = frameNum;
    picture.order = idr ? 0 : 2 * (history_.frameNumOffset + frameNum) - (reference ? 0 : 1);
    return picture;
}

std::optional<H264Picture> H264PictureOrder::Next(const uint8_t* data, size_t size, H264PacketForm form) {
    if (!data || size == 0) return std::nullopt;
    std::optional<H264Picture> picture;
    WalkUnits(data, size, form, [&](const uint8_t* unit, size_t n) {
        if (unit[0] & kForbiddenBit) return true;
        switch (H264NalTypeOf(unit[0])) {
            case H264NalType::kSps: ReadSeqParams(unit + 1, n - 1); return true;
            case H264NalType::kPps: ReadPicParams(unit + 1, n - 1); return true;
            case H264NalType::kSlice:
            case H264NalType::kIdrSlice: picture = ReadSlice(unit, n); return false;
            default: return true;
        }
    });
    return picture;
}

}  // namespace kx
