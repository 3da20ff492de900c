// Parameter sets read from either extradata form and written back in both.
// The walks over arbitrary bytes are fuzz_find_nal_unit's, fuzz_parameter_sets'
// and fuzz_length_prefixes'; the packet conversions on real media are judged
// by the corpus mixes of transport streams into MP4.
#include <gtest/gtest.h>

#include <vector>

#include "output/H264BitstreamForms.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

TEST(H264FormsTest, ParameterSetsFromEitherFormGiveBothHeaders) {
    Bytes sps(23, 0xA5), pps(5, 0x5A);
    sps[0] = 0x67, sps[1] = 0x64, sps[2] = 0x00, sps[3] = 0x1E;  // profile, constraints, level
    pps[0] = 0x68;
    const Bytes code = {0, 0, 0, 1};
    const Bytes annexB = Concat({code, sps, code, pps});
    const Bytes avcC = Concat({{1, 0x64, 0x00, 0x1E, 0xFF, 0xE1, 0, 23}, sps, {1, 0, 5}, pps});
    const Bytes withAud = Concat({code, {0x09, 0xF0}, {0, 0, 1}, sps, code, pps});
    for (const Bytes& extradata : {avcC, withAud}) {
        kx::H264ParameterSets sets;
        ASSERT_TRUE(kx::ParseH264ParameterSets(extradata.data(), extradata.size(), &sets));
        EXPECT_EQ(kx::BuildAnnexBHeader(sets), annexB);
        EXPECT_EQ(kx::BuildAvcCRecord(sets), avcC);
    }
    // An SPS too short for profile and level gives no record.
    kx::H264ParameterSets shortSps;
    const Bytes tooShort = Concat({code, {0x67, 0x64, 0x00}, code, pps});
    ASSERT_TRUE(kx::ParseH264ParameterSets(tooShort.data(), tooShort.size(), &shortSps));
    EXPECT_TRUE(kx::BuildAvcCRecord(shortSps).empty());
}

}  // namespace
