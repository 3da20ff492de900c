// The parameter-set ids of arbitrary extradata and packets in every form:
// stays inside the buffer, and the free id it offers is one no collected set
// uses (none only when every id from 1 to 31 is taken).
#include <vector>

#include "FuzzSupport.h"
#include "output/H264ParameterSetIds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    // Exact-size copy, so that an overread is caught.
    const std::vector<uint8_t> block(data, data + size);
    kx::ParameterSetIds ids;
    kx::CollectExtradataParameterSetIds(block.data(), block.size(), &ids);
    for (const kx::H264PacketForm form :
         {kx::kAnnexBForm, kx::LengthPrefixedForm(1), kx::LengthPrefixedForm(2), kx::LengthPrefixedForm(4)})
        kx::CollectPacketParameterSetIds(block.data(), static_cast<int>(block.size()), form, &ids);
    const std::optional<int> free = kx::FreeParameterSetId(ids);
    if (free) {
        KX_FUZZ_CHECK(*free >= 1 && *free <= 31);
        KX_FUZZ_CHECK(!ids.sps.test(static_cast<size_t>(*free)) && !ids.pps.test(static_cast<size_t>(*free)));
    } else {
        for (size_t id = 1; id <= 31; ++id) KX_FUZZ_CHECK(ids.sps.test(id) || ids.pps.test(id));
    }
    return 0;
}
