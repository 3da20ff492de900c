#include "output/H264ParameterSetIds.h"

#include "input/NalUnitWalk.h"
#include "input/RbspBitReader.h"

namespace kx {

namespace {

constexpr uint8_t kNalSps = 7;
constexpr uint8_t kNalPps = 8;
constexpr uint8_t kAvcCVersion = 1;
constexpr size_t kAvcCHeader = 6;  // version, profile, compatibility, level, length size, SPS count
constexpr uint32_t kMaxSpsId = 31;
constexpr uint32_t kMaxPpsId = 255;

void CollectUnit(const uint8_t* unit, size_t size, ParameterSetIds* ids) {
    if (size < 2) return;
    const uint8_t type = unit[0] & 0x1F;
    RbspBitReader bits(unit + 1, size - 1);
    if (type == kNalSps) {
        bits.Bits(24);  // profile, constraint flags, level
        const uint32_t id = bits.Ue();
        if (bits.Ok() && id <= kMaxSpsId) ids->sps.set(id);
    } else if (type == kNalPps) {
        const uint32_t id = bits.Ue();
        if (bits.Ok() && id <= kMaxPpsId) ids->pps.set(id);
    }
}

// The record's SPS list, then its PPS list, each unit behind a 16-bit length.
void CollectAvcC(const uint8_t* data, size_t size, ParameterSetIds* ids) {
    if (size < kAvcCHeader) return;
    size_t pos = kAvcCHeader - 1;
    for (int list = 0; list < 2; ++list) {
        if (pos >= size) return;
        int count = list == 0 ? (data[pos] & 0x1F) : data[pos];
        ++pos;
        for (; count > 0; --count) {
            if (pos + 2 > size) return;
            const size_t length = (size_t{data[pos]} << 8) | data[pos + 1];
            pos += 2;
            if (length > size - pos) return;
            CollectUnit(data + pos, length, ids);
            pos += length;
        }
    }
}

}  // namespace

void CollectPacketParameterSetIds(const uint8_t* data, int size, H264PacketForm form, ParameterSetIds* ids) {
    FirstNalAnswer(data, size, form, [ids](const uint8_t* unit, int available) {
        CollectUnit(unit, static_cast<size_t>(available), ids);
        return NalAnswer::Nothing;
    });
}

void CollectExtradataParameterSetIds(const uint8_t* data, size_t size, ParameterSetIds* ids) {
    if (!data || size == 0) return;
    if (data[0] == kAvcCVersion) {
        CollectAvcC(data, size, ids);
        return;
    }
    if (size > INT32_MAX) return;
    CollectPacketParameterSetIds(data, static_cast<int>(size), kAnnexBForm, ids);
}

std::optional<int> FreeParameterSetId(const ParameterSetIds& used) {
    for (uint32_t id = 1; id <= kMaxSpsId; ++id)
        if (!used.sps.test(id) && !used.pps.test(id)) return static_cast<int>(id);
    return std::nullopt;
}

}  // namespace kx
