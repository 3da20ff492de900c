// AppendToAvcCRecord on an arbitrary record and arbitrary Annex B data: stays
// inside both buffers, and a record it gives reads as avcC again, keeping the
// record's own sets. AppendAvcCProfileFields reads only inside the record.
// ParameterSetsBesides on either buffer stays inside it.
#include <vector>

#include "FuzzSupport.h"
#include "output/H264BitstreamForms.h"
#include "output/H264ParameterSetIds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    // The first byte splits the rest into the record and the Annex B data.
    const size_t split = 1 + (size - 1) * data[0] / 256;
    // Exact-size copies, so that an overread of either is caught.
    const std::vector<uint8_t> record(data + 1, data + split);
    const std::vector<uint8_t> annexB(data + split, data + size);
    const std::vector<uint8_t> joined =
        kx::AppendToAvcCRecord(record.data(), record.size(), annexB.data(), annexB.size());
    // What a header rebuilt from the stores would lose, from either buffer.
    for (const std::vector<uint8_t>* extradata : {&record, &annexB}) {
        kx::H264ParameterSets kept;
        kx::ParseH264ParameterSets(extradata->data(), extradata->size(), &kept);
        const std::vector<uint8_t> others = kx::ParameterSetsBesides(extradata->data(), extradata->size(), kept);
        KX_FUZZ_CHECK(others.size() <= 2 * extradata->size() + 4);
    }
    // The profile fields read from the record's first SPS: four bytes or none.
    std::vector<uint8_t> withFields = record;
    kx::AppendAvcCProfileFields(&withFields);
    KX_FUZZ_CHECK(withFields.size() == record.size() || withFields.size() == record.size() + 4);
    if (joined.empty()) return 0;
    KX_FUZZ_CHECK(joined.size() >= record.size());
    KX_FUZZ_CHECK(joined[0] == 1);
    // The record's own sets stay, and its lists only grow.
    kx::ParameterSetIds before, after;
    kx::CollectExtradataParameterSetIds(record.data(), record.size(), &before);
    kx::CollectExtradataParameterSetIds(joined.data(), joined.size(), &after);
    KX_FUZZ_CHECK((before.sps & ~after.sps).none() && (before.pps & ~after.pps).none());
    KX_FUZZ_CHECK((joined[5] & 0x1F) >= (record[5] & 0x1F));
    return 0;
}
