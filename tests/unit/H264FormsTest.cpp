// Parameter sets read from either extradata form and written back in both.
// The walks over arbitrary bytes are fuzz_find_nal_unit's, fuzz_parameter_sets'
// and fuzz_length_prefixes'; the packet conversions on real media are judged
// by the corpus mixes of transport streams into MP4.
#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "output/H264BitstreamForms.h"
#include "output/H264ParameterSetIds.h"

namespace {

using kxtest::Bytes;
using kxtest::Concat;

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

TEST(H264FormsTest, AppendedParameterSetsJoinTheRecordsLists) {
    const Bytes code = {0, 0, 0, 1};
    const Bytes sps0 = {0x67, 0x64, 0x00, 0x1E, 0x80}, pps0 = {0x68, 0xCE};  // ids 0
    const Bytes sps1 = {0x67, 0x64, 0x00, 0x1E, 0x40}, pps1 = {0x68, 0x48};  // ids 1 (PPS 1 of SPS 1)
    const Bytes record = Concat({{1, 0x64, 0x00, 0x1E, 0xFF, 0xE1, 0, 5}, sps0, {1, 0, 2}, pps0});
    const Bytes highTail = {0xFD, 0xF8, 0xF8, 0x00};  // chroma format, depths, no SPS extension
    const struct {
        const char* what;
        Bytes record, annexB, expected;
    } cases[] = {
        {"an SPS and a PPS", record, Concat({code, sps1, code, pps1}),
         Concat({{1, 0x64, 0x00, 0x1E, 0xFF, 0xE2, 0, 5}, sps0, {0, 5}, sps1, {2, 0, 2}, pps0, {0, 2}, pps1})},
        {"other units left out", record, Concat({code, {0x06, 0x05, 0x01}, code, sps1, code, pps1}),
         Concat({{1, 0x64, 0x00, 0x1E, 0xFF, 0xE2, 0, 5}, sps0, {0, 5}, sps1, {2, 0, 2}, pps0, {0, 2}, pps1})},
        {"the High profiles' fields stay at the end", Concat({record, highTail}), Concat({code, sps1, code, pps1}),
         Concat({{1, 0x64, 0x00, 0x1E, 0xFF, 0xE2, 0, 5}, sps0, {0, 5}, sps1, {2, 0, 2}, pps0, {0, 2}, pps1, highTail})},
        {"a record whose lists run past its end", Bytes(record.begin(), record.end() - 1), Concat({code, sps1}), {}},
        {"not a record", Concat({code, sps0}), Concat({code, sps1}), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes joined = kx::AppendToAvcCRecord(c.record.data(), c.record.size(), c.annexB.data(), c.annexB.size());
        EXPECT_EQ(joined, c.expected);
        if (joined.empty()) continue;
        // Both sets are read back from it.
        kx::ParameterSetIds ids;
        kx::CollectExtradataParameterSetIds(joined.data(), joined.size(), &ids);
        EXPECT_TRUE(ids.sps.test(0) && ids.sps.test(1) && ids.pps.test(0) && ids.pps.test(1));
        // A header rebuilt from it (the last of each kind stored) loses nothing.
        kx::H264ParameterSets kept;
        ASSERT_TRUE(kx::ParseH264ParameterSets(joined.data(), joined.size(), &kept));
        EXPECT_EQ(kx::BuildAnnexBHeader(kept), Concat({code, sps1, code, pps1}));
        EXPECT_EQ(kx::ParameterSetsBesides(joined.data(), joined.size(), kept), Concat({code, sps0, code, pps0}));
    }
}

}  // namespace
