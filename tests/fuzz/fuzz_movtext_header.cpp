// MovTextHeaderWithoutBitRates on arbitrary bytes: stays inside them, never
// grows them, keeps the fixed fields, and a second pass changes nothing
// (no 'btrt' box is left to drop).
#include <algorithm>
#include <vector>

#include "FuzzSupport.h"
#include "input/MovTextHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 16)) return 0;
    const std::vector<uint8_t> input(data, data + size);  // exact size: an overread is caught
    const std::vector<uint8_t> once = kx::MovTextHeaderWithoutBitRates(input.data(), input.size());
    KX_FUZZ_CHECK(once.size() <= input.size());
    const size_t fixed = std::min<size_t>(30, input.size());
    KX_FUZZ_CHECK(std::equal(input.begin(), input.begin() + fixed, once.begin()));
    KX_FUZZ_CHECK(kx::MovTextHeaderWithoutBitRates(once.data(), once.size()) == once);
    return 0;
}
