// ParseH264ParameterSets on arbitrary extradata (Annex B or avcC), then the
// global headers built from what it stored: BuildAvcCRecord and
// BuildAnnexBHeader. An avcC record built here must parse back to the same
// parameter sets.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "output/H264BitstreamForms.h"

namespace {

bool SameSets(const kx::H264ParameterSets& a, const kx::H264ParameterSets& b) {
    return a.spsLength == b.spsLength && a.ppsLength == b.ppsLength &&
           std::memcmp(a.sps, b.sps, a.spsLength) == 0 && std::memcmp(a.pps, b.pps, a.ppsLength) == 0;
}

void CheckStores(const kx::H264ParameterSets& sets) {
    KX_FUZZ_CHECK(sets.spsLength == 0 || (sets.spsLength >= 5 && sets.spsLength <= sizeof sets.sps));
    KX_FUZZ_CHECK(sets.ppsLength == 0 || (sets.ppsLength >= 5 && sets.ppsLength <= sizeof sets.pps));
    if (sets.spsLength) KX_FUZZ_CHECK((sets.sps[4] & 0x1F) == 7);
    if (sets.ppsLength) KX_FUZZ_CHECK((sets.pps[4] & 0x1F) == 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    kx::H264ParameterSets sets;
    // The first byte, when below 0x10, splits the rest into two extradata
    // blocks parsed one after the other into the same stores.
    size_t first = size;
    if (size > 1 && data[0] < 0x10) {
        first = 1 + (size - 1) * data[0] / 16;
        kx::ParseH264ParameterSets(data + 1, first - 1, &sets);
        CheckStores(sets);
    }
    const uint8_t* rest = first < size ? data + first : data;
    const size_t restSize = first < size ? size - first : size;
    // Exact-size copy, so that an overread of the block is caught.
    std::vector<uint8_t> block(rest, rest + restSize);
    const bool both = kx::ParseH264ParameterSets(block.data(), block.size(), &sets);
    CheckStores(sets);
    KX_FUZZ_CHECK(both == (sets.spsLength != 0 && sets.ppsLength != 0));

    std::vector<uint8_t> header = kx::BuildAnnexBHeader(sets);
    KX_FUZZ_CHECK(header.size() == sets.spsLength + sets.ppsLength);

    std::vector<uint8_t> record = kx::BuildAvcCRecord(sets);
    if (!both) {
        KX_FUZZ_CHECK(record.empty());
        return 0;
    }
    if (record.empty()) {
        KX_FUZZ_CHECK(sets.spsLength < 8);
        return 0;
    }
    KX_FUZZ_CHECK(record.size() == 11 + (sets.spsLength - 4) + (sets.ppsLength - 4));
    KX_FUZZ_CHECK(record[0] == 1 && record[1] == sets.sps[5] && record[3] == sets.sps[7]);
    // A record in which no start code occurs is read as avcC: same sets.
    if (!kx::FindNalUnit(record.data(), record.data() + record.size())) {
        kx::H264ParameterSets back;
        KX_FUZZ_CHECK(kx::ParseH264ParameterSets(record.data(), record.size(), &back));
        KX_FUZZ_CHECK(SameSets(back, sets));
    }
    return 0;
}
