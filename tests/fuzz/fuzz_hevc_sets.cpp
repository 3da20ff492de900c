// The HEVC parameter-set readers and writers on arbitrary bytes: they stay
// inside the buffer; a set they renumber reads back with the new ids; a
// record they extend reads as hvcC again, keeping the record's own sets.
#include <vector>

#include "FuzzSupport.h"
#include "output/HevcParameterSetIds.h"
#include "output/HevcRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    // The first byte splits the rest into a record and Annex B data.
    const size_t split = 1 + (size - 1) * data[0] / 256;
    // Exact-size copies, so that an overread of either is caught.
    const std::vector<uint8_t> record(data + 1, data + split);
    const std::vector<uint8_t> annexB(data + split, data + size);
    const kx::HevcSetIds to{2, 3, 17, kx::HevcReordering{3, 2, 0}};

    kx::HevcParameterSetIds before;
    kx::CollectHevcExtradataIds(record.data(), record.size(), &before);
    kx::HevcReorderingOfExtradata(record.data(), record.size());
    kx::HevcReorderingOfExtradata(annexB.data(), annexB.size());

    const std::vector<uint8_t> unit = kx::RenumberHevcUnit(record.data(), record.size(), to);
    if (!unit.empty() && record.size() > 2) {
        const int type = (record[0] >> 1) & 0x3F;
        std::vector<uint8_t> framed = {0, 0, 0, 1};
        framed.insert(framed.end(), unit.begin(), unit.end());
        kx::HevcParameterSetIds ids;
        kx::CollectHevcPacketIds(framed.data(), static_cast<int>(framed.size()), kx::kAnnexBForm, &ids);
        if (type == 32) KX_FUZZ_CHECK(ids.vps.none() || ids.vps.test(2));
        if (type == 34) KX_FUZZ_CHECK(ids.pps.none() || ids.pps.test(17));
    }
    kx::RenumberHevcAnnexB(annexB.data(), annexB.size(), to);

    const std::vector<uint8_t> joined =
        kx::AppendToHvcCRecord(record.data(), record.size(), annexB.data(), annexB.size());
    if (joined.empty()) return 0;
    KX_FUZZ_CHECK(joined[0] == 1 && joined.size() >= 23);
    kx::HevcParameterSetIds after;
    kx::CollectHevcExtradataIds(joined.data(), joined.size(), &after);
    KX_FUZZ_CHECK((before.vps & ~after.vps).none() && (before.sps & ~after.sps).none() &&
                  (before.pps & ~after.pps).none());
    return 0;
}
