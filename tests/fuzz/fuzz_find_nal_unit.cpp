// FindNalUnit walked over arbitrary bytes: each unit lies inside the range,
// follows a start code, and the walk ends. The units survive a trip through
// the length-prefixed form and back (StartCodesToLengthPrefixes, then
// LengthPrefixesToStartCodes).
#include <vector>

#include "FuzzSupport.h"
#include "output/H264BitstreamForms.h"

namespace {

struct Unit {
    const uint8_t* data;
    size_t size;
};

std::vector<Unit> Walk(const uint8_t* begin, const uint8_t* end) {
    std::vector<Unit> units;
    const uint8_t* previous = begin;
    auto unit = kx::FindNalUnit(begin, end);
    while (unit) {
        KX_FUZZ_CHECK(unit->data >= begin + 3 && unit->data <= end);
        KX_FUZZ_CHECK(unit->size <= static_cast<size_t>(end - unit->data));
        KX_FUZZ_CHECK(unit->data > previous);  // the walk moves on
        const uint8_t* code = unit->data - 3;
        KX_FUZZ_CHECK(code[0] == 0 && code[1] == 0 && code[2] == 1);
        units.push_back({unit->data, unit->size});
        previous = unit->data;
        unit = kx::FindNalUnit(unit->data + unit->size, end);
    }
    return units;
}

std::vector<std::vector<uint8_t>> NonEmpty(const std::vector<Unit>& units) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& u : units)
        if (u.size > 0) out.emplace_back(u.data, u.data + u.size);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const uint8_t* end = data + size;
    std::vector<Unit> units = Walk(data, end);
    if (size <= 4) KX_FUZZ_CHECK(units.empty());

    std::vector<uint8_t> prefixed = kx::StartCodesToLengthPrefixes(data, size);
    if (prefixed.empty()) return 0;
    KX_FUZZ_CHECK(kx::LengthPrefixesToStartCodes(prefixed.data(), prefixed.size()));
    std::vector<Unit> again = Walk(prefixed.data(), prefixed.data() + prefixed.size());
    KX_FUZZ_CHECK(NonEmpty(again) == NonEmpty(units));
    return 0;
}
