#include "output/HevcParameterSetIds.h"

#include <algorithm>

#include "input/NalUnitWalk.h"
#include "output/H264BitstreamForms.h"
#include "output/HevcRecord.h"
#include "output/RbspEdit.h"

namespace kx {

namespace {

constexpr int kHeaderBytes = 2;
constexpr int kVps = 32;
constexpr int kSps = 33;
constexpr int kPps = 34;
constexpr int kLastSliceType = 21;  // CRA_NUT; 22 and 23 are reserved IRAP types
constexpr int kFirstIrapType = 16;
constexpr int kReservedNonIrapFirst = 10;  // 10 to 15 are reserved non-IRAP types
constexpr int kIdBits = 4;                 // of a VPS id
constexpr uint32_t kMaxSpsId = 15;
constexpr uint32_t kMaxPpsId = 63;
constexpr int kGeneralProfileBits = 88;  // profile space to the last reserved flag
constexpr int kLevelBits = 8;
constexpr int kMaxSubLayers = 8;
constexpr int kFirstWidePpsId = 15;  // ue(v) codes of 15 to 30 are 9 bits, id 0's is 1
constexpr int kLastWidePpsId = 30;

int UnitType(const uint8_t* unit) { return (unit[0] >> 1) & 0x3F; }

bool IsSlice(int type) { return type <= kLastSliceType && !(type >= kReservedNonIrapFirst && type < kFirstIrapType); }

// profile_tier_level(1, maxSubLayersMinus1).
void SkipProfileTierLevel(BitCursor& bits, int maxSubLayersMinus1) {
    bits.Bits(kGeneralProfileBits - 32);
    bits.Bits(32);
    bits.Bits(kLevelBits);
    bool profile[kMaxSubLayers] = {};
    bool level[kMaxSubLayers] = {};
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        profile[i] = bits.Bits(1) != 0;
        level[i] = bits.Bits(1) != 0;
    }
    if (maxSubLayersMinus1 > 0)
        for (int i = maxSubLayersMinus1; i < kMaxSubLayers; ++i) bits.Bits(2);
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        if (profile[i]) {
            bits.Bits(kGeneralProfileBits - 32);
            bits.Bits(32);
        }
        if (level[i]) bits.Bits(kLevelBits);
    }
}

constexpr int kVpsFixedBits = 8;               // base layer flags, max layers
constexpr int kVpsReservedBits = 16;           // vps_reserved_0xffff_16bits
constexpr uint32_t kSeparateColourPlanes = 3;  // chroma_format_idc 4:4:4

// From after sps_seq_parameter_set_id up to sps_sub_layer_ordering_info_present_flag.
void SkipSpsToOrdering(BitCursor& bits) {
    if (bits.Ue() == kSeparateColourPlanes) bits.Bits(1);
    bits.Ue();  // width
    bits.Ue();  // height
    if (bits.Bits(1)) {
        for (int side = 0; side < 4; ++side) bits.Ue();
    }
    bits.Ue();  // bit depths
    bits.Ue();
    bits.Ue();  // log2_max_pic_order_cnt_lsb_minus4
}

uint32_t Raised(uint32_t own, uint32_t least) { return std::max(own, least); }

// The sub-layer ordering entries at the cursor, copied with the reordering
// raised; the cursor and the writer past them.
void RewriteOrdering(BitCursor& bits, BitWriter& out, int maxSubLayersMinus1, const HevcReordering& least) {
    const bool present = bits.Bits(1) != 0;
    out.Bits(present ? 1 : 0, 1);
    for (int i = present ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i) {
        const uint32_t buffering = bits.Ue();
        const uint32_t reorder = Raised(bits.Ue(), least.numReorderPics);
        const uint32_t latency = bits.Ue();
        out.Ue(std::max({buffering, least.decPicBufferingMinus1, reorder}));
        out.Ue(reorder);
        out.Ue(latency == 0 || least.latencyIncreasePlus1 == 0 ? 0 : Raised(latency, least.latencyIncreasePlus1));
    }
}

struct SetHeader {
    int type = 0;
    uint32_t id = 0;
    bool ok = false;
};

SetHeader ReadSetHeader(const uint8_t* unit, size_t size) {
    SetHeader header;
    if (size <= kHeaderBytes || (unit[0] & 0x80)) return header;
    header.type = UnitType(unit);
    const std::vector<uint8_t> rbsp = Unescape(unit + kHeaderBytes, size - kHeaderBytes);
    BitCursor bits(rbsp);
    if (header.type == kVps) {
        header.id = bits.Bits(kIdBits);
    } else if (header.type == kSps) {
        bits.Bits(kIdBits);
        const int maxSubLayersMinus1 = static_cast<int>(bits.Bits(3));
        bits.Bits(1);
        SkipProfileTierLevel(bits, maxSubLayersMinus1);
        header.id = bits.Ue();
        header.ok = bits.Ok() && header.id <= kMaxSpsId;
        return header;
    } else if (header.type == kPps) {
        header.id = bits.Ue();
        header.ok = bits.Ok() && header.id <= kMaxPpsId;
        return header;
    } else {
        return header;
    }
    header.ok = bits.Ok();
    return header;
}

void CollectUnit(const uint8_t* unit, size_t size, HevcParameterSetIds* ids) {
    const SetHeader header = ReadSetHeader(unit, size);
    if (!header.ok) return;
    if (header.type == kVps) ids->vps.set(header.id);
    if (header.type == kSps) ids->sps.set(header.id);
    if (header.type == kPps) ids->pps.set(header.id);
}

// The bits before the first field to change and after the last, with the
// new fields between them.
std::vector<uint8_t> RewriteSet(const uint8_t* unit, size_t size, const HevcSetIds& to) {
    const int type = UnitType(unit);
    const std::vector<uint8_t> rbsp = Unescape(unit + kHeaderBytes, size - kHeaderBytes);
    BitCursor bits(rbsp);
    BitWriter out;
    if (type == kVps) {
        bits.Bits(kIdBits);
        out.Bits(static_cast<uint32_t>(to.vps), kIdBits);
        if (to.reordering) {
            const size_t from = bits.Position();
            bits.Bits(kVpsFixedBits);
            const int maxSubLayersMinus1 = static_cast<int>(bits.Bits(3));
            bits.Bits(1);
            bits.Bits(kVpsReservedBits);
            SkipProfileTierLevel(bits, maxSubLayersMinus1);
            out.Copy(rbsp, from, bits.Position());
            RewriteOrdering(bits, out, maxSubLayersMinus1, *to.reordering);
        }
    } else if (type == kSps) {
        bits.Bits(kIdBits);
        out.Bits(static_cast<uint32_t>(to.vps), kIdBits);
        size_t from = bits.Position();
        const int maxSubLayersMinus1 = static_cast<int>(bits.Bits(3));
        bits.Bits(1);
        SkipProfileTierLevel(bits, maxSubLayersMinus1);
        out.Copy(rbsp, from, bits.Position());
        bits.Ue();
        out.Ue(static_cast<uint32_t>(to.sps));
        if (to.reordering) {
            from = bits.Position();
            SkipSpsToOrdering(bits);
            out.Copy(rbsp, from, bits.Position());
            RewriteOrdering(bits, out, maxSubLayersMinus1, *to.reordering);
        }
    } else {
        bits.Ue();
        bits.Ue();
        out.Ue(static_cast<uint32_t>(to.pps));
        out.Ue(static_cast<uint32_t>(to.sps));
    }
    const size_t stop = StopBitPosition(rbsp);
    if (!bits.Ok() || stop >= rbsp.size() * 8 || bits.Position() > stop) return {};
    out.Copy(rbsp, bits.Position(), stop);
    out.Trail();
    std::vector<uint8_t> unitOut(unit, unit + kHeaderBytes);
    const std::vector<uint8_t> payload = Escape(out.Bytes());
    unitOut.insert(unitOut.end(), payload.begin(), payload.end());
    return unitOut;
}

// A slice's PPS id is its third field at most; the rest of the unit moves by
// whole bytes, which keeps the slice data aligned.
std::vector<uint8_t> RewriteSlice(const uint8_t* unit, size_t size, const HevcSetIds& to) {
    const int type = UnitType(unit);
    const std::vector<uint8_t> rbsp = Unescape(unit + kHeaderBytes, size - kHeaderBytes);
    BitCursor bits(rbsp);
    bits.Bits(1);                              // first_slice_segment_in_pic_flag
    if (type >= kFirstIrapType) bits.Bits(1);  // no_output_of_prior_pics_flag
    const size_t idAt = bits.Position();
    const uint32_t old = bits.Ue();
    const int grows = UeLength(static_cast<uint32_t>(to.pps)) - UeLength(old);
    if (!bits.Ok() || grows % 8 != 0) return {};
    BitWriter out;
    out.Copy(rbsp, 0, idAt);
    out.Ue(static_cast<uint32_t>(to.pps));
    out.Copy(rbsp, bits.Position(), rbsp.size() * 8);
    std::vector<uint8_t> unitOut(unit, unit + kHeaderBytes);
    const std::vector<uint8_t> payload = Escape(out.Bytes());
    unitOut.insert(unitOut.end(), payload.begin(), payload.end());
    return unitOut;
}

}  // namespace

void CollectHevcExtradataIds(const uint8_t* data, size_t size, HevcParameterSetIds* ids) {
    if (!data || size == 0) return;
    if (data[0] == kHvcCVersion) {
        WalkHvcCArrays(data, size, [](uint8_t) {},
                       [ids](const uint8_t* unit, size_t length) { CollectUnit(unit, length, ids); });
        return;
    }
    if (size > INT32_MAX) return;
    CollectHevcPacketIds(data, static_cast<int>(size), kAnnexBForm, ids);
}

void CollectHevcPacketIds(const uint8_t* data, int size, H264PacketForm form, HevcParameterSetIds* ids) {
    FirstNalAnswer(data, size, form, [ids](const uint8_t* unit, int available) {
        CollectUnit(unit, static_cast<size_t>(available), ids);
        return NalAnswer::Nothing;
    });
}

std::optional<HevcReordering> HevcReorderingOfExtradata(const uint8_t* data, size_t size) {
    std::optional<HevcReordering> found;
    const auto read = [&found](const uint8_t* unit, size_t length) {
        if (found || length <= kHeaderBytes || UnitType(unit) != kSps) return;
        const std::vector<uint8_t> rbsp = Unescape(unit + kHeaderBytes, length - kHeaderBytes);
        BitCursor bits(rbsp);
        bits.Bits(kIdBits);
        const int maxSubLayersMinus1 = static_cast<int>(bits.Bits(3));
        bits.Bits(1);
        SkipProfileTierLevel(bits, maxSubLayersMinus1);
        bits.Ue();
        SkipSpsToOrdering(bits);
        const bool present = bits.Bits(1) != 0;
        HevcReordering reordering;
        for (int i = present ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i)
            reordering = HevcReordering{bits.Ue(), bits.Ue(), bits.Ue()};
        if (bits.Ok()) found = reordering;
    };
    if (!data || size == 0) return found;
    if (data[0] == kHvcCVersion) {
        WalkHvcCArrays(data, size, [](uint8_t) {}, read);
    } else if (size <= INT32_MAX) {
        FirstNalAnswer(data, static_cast<int>(size), kAnnexBForm, [&read](const uint8_t* unit, int available) {
            read(unit, static_cast<size_t>(available));
            return NalAnswer::Nothing;
        });
    }
    return found;
}

std::optional<HevcSetIds> FreeHevcSetIds(const HevcParameterSetIds& used) {
    const auto firstFree = [](const auto& set, int from, int to) -> std::optional<int> {
        for (int id = from; id <= to; ++id)
            if (!set.test(static_cast<size_t>(id))) return id;
        return std::nullopt;
    };
    const auto vps = firstFree(used.vps, 1, static_cast<int>(kMaxSpsId));
    const auto sps = firstFree(used.sps, 1, static_cast<int>(kMaxSpsId));
    const auto pps = firstFree(used.pps, kFirstWidePpsId, kLastWidePpsId);
    if (!vps || !sps || !pps) return std::nullopt;
    return HevcSetIds{*vps, *sps, *pps, std::nullopt};
}

std::vector<uint8_t> RenumberHevcUnit(const uint8_t* unit, size_t size, const HevcSetIds& to) {
    if (!unit || size <= kHeaderBytes || (unit[0] & 0x80)) return {};
    const int type = UnitType(unit);
    if (type == kVps || type == kSps || type == kPps) return RewriteSet(unit, size, to);
    if (IsSlice(type)) return RewriteSlice(unit, size, to);
    return std::vector<uint8_t>(unit, unit + size);
}

std::vector<uint8_t> RenumberHevcAnnexB(const uint8_t* data, size_t size, const HevcSetIds& to) {
    std::vector<uint8_t> out;
    const uint8_t* const end = data + size;
    for (auto unit = FindNalUnit(data, end); unit; unit = FindNalUnit(unit->data + unit->size, end)) {
        // A unit runs up to the next start code: zero bytes before it belong to that.
        size_t length = unit->size;
        while (length > 0 && unit->data[length - 1] == 0) --length;
        const std::vector<uint8_t> renumbered = RenumberHevcUnit(unit->data, length, to);
        if (renumbered.empty()) return {};
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), renumbered.begin(), renumbered.end());
    }
    return out;
}

}  // namespace kx
