#include "output/HevcRecord.h"

#include <algorithm>

#include "output/H264BitstreamForms.h"

namespace kx {

namespace {

constexpr uint8_t kTypeMask = 0x3F;
constexpr uint8_t kCompleteness = 0x80;
constexpr int kVps = 32;
constexpr int kPps = 34;
constexpr size_t kMaxCount = 0xFFFF;

struct Array {
    uint8_t head = 0;  // completeness, reserved bit, type
    std::vector<std::vector<uint8_t>> units;
    int Type() const { return head & kTypeMask; }
};

bool ReadArrays(const uint8_t* data, size_t size, std::vector<Array>* arrays) {
    return WalkHvcCArrays(
        data, size, [arrays](uint8_t head) { arrays->push_back(Array{head, {}}); },
        [arrays](const uint8_t* unit, size_t length) { arrays->back().units.emplace_back(unit, unit + length); });
}

void PutShort(std::vector<uint8_t>& out, size_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

}  // namespace

std::vector<uint8_t> AppendToHvcCRecord(const uint8_t* record, size_t recordSize, const uint8_t* annexB,
                                        size_t annexBSize) {
    std::vector<Array> arrays;
    if (!ReadArrays(record, recordSize, &arrays)) return {};
    const uint8_t completeness = arrays.empty() ? kCompleteness : arrays.front().head & kCompleteness;
    const uint8_t* const end = annexB ? annexB + annexBSize : nullptr;
    for (auto unit = FindNalUnit(annexB, end); unit; unit = FindNalUnit(unit->data + unit->size, end)) {
        size_t length = unit->size;
        while (length > 0 && unit->data[length - 1] == 0) --length;
        if (length < 2) continue;
        const int type = (unit->data[0] >> 1) & kTypeMask;
        if (type < kVps || type > kPps) continue;
        if (length > kMaxCount) return {};
        auto array = std::find_if(arrays.begin(), arrays.end(), [type](const Array& a) { return a.Type() == type; });
        if (array == arrays.end()) {
            // Sets are read in order: each new array goes before the first of a later type.
            const auto later =
                std::find_if(arrays.begin(), arrays.end(), [type](const Array& a) { return a.Type() > type; });
            array = arrays.insert(later, Array{static_cast<uint8_t>(completeness | type), {}});
        }
        if (array->units.size() >= kMaxCount) return {};
        array->units.emplace_back(unit->data, unit->data + length);
    }
    if (arrays.size() > 0xFF) return {};
    std::vector<uint8_t> out(record, record + kHvcCHeaderSize);
    out.push_back(static_cast<uint8_t>(arrays.size()));
    for (const Array& array : arrays) {
        out.push_back(array.head);
        PutShort(out, array.units.size());
        for (const auto& unit : array.units) {
            PutShort(out, unit.size());
            out.insert(out.end(), unit.begin(), unit.end());
        }
    }
    return out;
}

}  // namespace kx
