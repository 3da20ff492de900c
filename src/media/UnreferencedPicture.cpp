#include "media/UnreferencedPicture.h"

#include <algorithm>

#include "input/H264NalTypes.h"
#include "input/NalUnitWalk.h"
#include "output/HevcRecord.h"

namespace kx {

namespace {

constexpr uint8_t kForbiddenBit = 0x80;

// What one unit means for skipping its packet's picture.
enum class UnitVerdict {
    kUnreferencedSlice,  // a slice no later picture refers to
    kHarmless,           // carries nothing a later picture needs
    kKeep,               // a slice others may refer to, or state, or unreadable
};

// Walks every unit of the packet: skippable when at least one slice and every
// unit allows it.
template <typename Judge>
bool AllUnitsAllowSkipping(const uint8_t* data, int size, H264PacketForm form, const Judge& judge) {
    bool slice = false;
    bool keep = false;
    FirstNalAnswer(data, size, form, [&](const uint8_t* unit, int available) {
        const UnitVerdict verdict = judge(unit, available);
        slice = slice || verdict == UnitVerdict::kUnreferencedSlice;
        keep = verdict == UnitVerdict::kKeep;
        return keep ? NalAnswer::NotKey : NalAnswer::Nothing;  // the first unit to keep ends the walk
    });
    return slice && !keep;
}

namespace h264 {
constexpr uint8_t kRefIdcMask = 0x60;

UnitVerdict Judge(const uint8_t* unit, int available) {
    if (available < 1 || (unit[0] & kForbiddenBit)) return UnitVerdict::kKeep;
    const H264NalType type = H264NalTypeOf(unit[0]);
    if (type == H264NalType::kSlice)
        return (unit[0] & kRefIdcMask) == 0 ? UnitVerdict::kUnreferencedSlice : UnitVerdict::kKeep;
    if (type == H264NalType::kSei || type == H264NalType::kAccessUnitDelimiter || type == H264NalType::kFiller)
        return UnitVerdict::kHarmless;
    return UnitVerdict::kKeep;
}
}  // namespace h264

namespace hevc {
constexpr int kHeaderBytes = 2;
constexpr int kLastSubLayerNonReference = 14;  // RSV_VCL_N14; the even types up to it
constexpr int kAccessUnitDelimiter = 35;
constexpr int kFiller = 38;
constexpr int kPrefixSei = 39;
constexpr int kSuffixSei = 40;
constexpr int kSps = 33;

int TypeOf(const uint8_t* unit) { return (unit[0] >> 1) & 0x3F; }

UnitVerdict Judge(const uint8_t* unit, int available, int highestTemporalId) {
    if (available < kHeaderBytes || (unit[0] & kForbiddenBit)) return UnitVerdict::kKeep;
    const int type = TypeOf(unit);
    const int layer = ((unit[0] & 1) << 5) | (unit[1] >> 3);
    const int temporalId = (unit[1] & 0x07) - 1;
    if (layer != 0 || temporalId < 0) return UnitVerdict::kKeep;
    if (type <= kLastSubLayerNonReference && type % 2 == 0 && temporalId == highestTemporalId)
        return UnitVerdict::kUnreferencedSlice;
    if (type == kAccessUnitDelimiter || type == kFiller || type == kPrefixSei || type == kSuffixSei)
        return UnitVerdict::kHarmless;
    return UnitVerdict::kKeep;
}

// sps_max_sub_layers_minus1: three bits after the four of the VPS id, ahead of
// any emulation prevention byte.
std::optional<int> MaxSubLayersMinus1(const uint8_t* unit, size_t length) {
    if (length <= kHeaderBytes || TypeOf(unit) != kSps) return std::nullopt;
    return (unit[kHeaderBytes] >> 1) & 0x07;
}
}  // namespace hevc

}  // namespace

bool IsUnreferencedH264Picture(const uint8_t* data, int size, H264PacketForm form) {
    return AllUnitsAllowSkipping(data, size, form, h264::Judge);
}

bool IsUnreferencedHevcPicture(const uint8_t* data, int size, H264PacketForm form, int highestTemporalId) {
    return AllUnitsAllowSkipping(data, size, form, [highestTemporalId](const uint8_t* unit, int available) {
        return hevc::Judge(unit, available, highestTemporalId);
    });
}

std::optional<int> HevcHighestTemporalId(const uint8_t* extradata, size_t size) {
    std::optional<int> highest;
    const auto read = [&highest](const uint8_t* unit, size_t length) {
        if (const auto id = hevc::MaxSubLayersMinus1(unit, length)) highest = std::max(highest.value_or(0), *id);
    };
    if (!extradata || size == 0) return highest;
    if (extradata[0] == kHvcCVersion) {
        const auto anyArray = [](uint8_t) {};
        if (!WalkHvcCArrays(extradata, size, anyArray, read)) return std::nullopt;
    } else if (size <= INT32_MAX) {
        FirstNalAnswer(extradata, static_cast<int>(size), kAnnexBForm, [&read](const uint8_t* unit, int available) {
            read(unit, static_cast<size_t>(available));
            return NalAnswer::Nothing;
        });
    }
    return highest;
}

}  // namespace kx
