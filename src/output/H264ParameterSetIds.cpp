#include "output/H264ParameterSetIds.h"

#include "input/H264NalTypes.h"
#include "input/NalUnitWalk.h"
#include "input/RbspBitReader.h"
#include "output/H264BitstreamForms.h"

namespace kx {

namespace {

constexpr uint8_t kAvcCVersion = 1;
constexpr uint32_t kMaxSpsId = 31;
constexpr uint32_t kMaxPpsId = 255;

void CollectUnit(const uint8_t* unit, size_t size, ParameterSetIds* ids) {
    if (size < 2) return;
    const H264NalType type = H264NalTypeOf(unit[0]);
    RbspBitReader bits(unit + 1, size - 1);
    if (type == H264NalType::kSps) {
        bits.Bits(24);  // profile, constraint flags, level
        const uint32_t id = bits.Ue();
        if (bits.Ok() && id <= kMaxSpsId) ids->sps.set(id);
    } else if (type == H264NalType::kPps) {
        const uint32_t id = bits.Ue();
        if (bits.Ok() && id <= kMaxPpsId) ids->pps.set(id);
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
        ForEachAvcCUnit(data, size, [ids](const uint8_t* unit, size_t n) { CollectUnit(unit, n, ids); });
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
