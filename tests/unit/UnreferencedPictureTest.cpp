// Which packets an exact cut may leave undecoded before its start: the judge's
// media only has plain B-pictures, so the packets that must still reach the
// decoder (parameter sets next to a non-reference slice, a higher HEVC
// sub-layer that may refer to a lower one) are held here.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/UnreferencedPicture.h"

using kx::kAnnexBForm;
using kx::LengthPrefixedForm;

namespace {

using Bytes = std::vector<uint8_t>;

// The header bytes, then a payload without zeros.
Bytes Unit(Bytes header) {
    header.insert(header.end(), {0x9A, 0xBC, 0xDE, 0x80});
    return header;
}

Bytes Prefixed(const std::vector<Bytes>& units) {
    Bytes out;
    for (const Bytes& nal : units) {
        for (int k = 3; k >= 0; --k) out.push_back(static_cast<uint8_t>(nal.size() >> (8 * k)));
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

Bytes AnnexB(const std::vector<Bytes>& units) {
    Bytes out;
    for (const Bytes& nal : units) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

struct Case {
    std::string what;
    std::vector<Bytes> units;
    bool unreferenced;
};

// H.264 headers: nal_ref_idc in bits 5-6, the type in the low five.
const Bytes kH264NonRefSlice = Unit({0x01}), kH264RefSlice = Unit({0x41}), kH264Idr = Unit({0x65}),
            kH264Sei = Unit({0x06}), kH264Delimiter = Unit({0x09}), kH264Sps = Unit({0x67}), kH264Pps = Unit({0x68}),
            kH264EndOfSequence = Unit({0x0A}), kH264Forbidden = Unit({0x81});

// HEVC headers: the type in bits 1-6 of the first byte, temporal id + 1 in
// the low three of the second.
Bytes Hevc(int type, int temporalId, int layer = 0) {
    return Unit({static_cast<uint8_t>((type << 1) | (layer >> 5)),
                 static_cast<uint8_t>(((layer & 0x1F) << 3) | (temporalId + 1))});
}
constexpr int kTrailN = 0, kTrailR = 1, kRaslN = 8, kCra = 21, kVps = 32, kDelimiter = 35, kPrefixSei = 39;

}  // namespace

TEST(UnreferencedPicture, H264PacketsSkippedOnlyWithoutReferenceOrState) {
    const std::vector<Case> cases = {
        {"a non-reference B slice", {kH264NonRefSlice}, true},
        {"behind a delimiter and SEI", {kH264Delimiter, kH264Sei, kH264NonRefSlice}, true},
        {"a reference slice", {kH264RefSlice}, false},
        {"an IDR slice", {kH264Idr}, false},
        {"an SPS ahead of it", {kH264Sps, kH264NonRefSlice}, false},
        {"a PPS after it", {kH264NonRefSlice, kH264Pps}, false},
        {"the end of a sequence", {kH264NonRefSlice, kH264EndOfSequence}, false},
        {"slices that disagree", {kH264NonRefSlice, kH264RefSlice}, false},
        {"no slice", {kH264Sei}, false},
        {"a forbidden bit", {kH264Forbidden, kH264NonRefSlice}, false},
    };
    for (const Case& c : cases) {
        const Bytes prefixed = Prefixed(c.units), annexB = AnnexB(c.units);
        EXPECT_EQ(
            kx::IsUnreferencedH264Picture(prefixed.data(), static_cast<int>(prefixed.size()), LengthPrefixedForm(4)),
            c.unreferenced)
            << c.what << " (length-prefixed)";
        EXPECT_EQ(kx::IsUnreferencedH264Picture(annexB.data(), static_cast<int>(annexB.size()), kAnnexBForm),
                  c.unreferenced)
            << c.what << " (Annex B)";
    }
    EXPECT_FALSE(kx::IsUnreferencedH264Picture(nullptr, 0, kAnnexBForm));
}

TEST(UnreferencedPicture, HevcPacketsSkippedOnlyInTheHighestSubLayer) {
    struct HevcCase {
        Case c;
        int highestTemporalId;
    };
    const std::vector<HevcCase> cases = {
        {{"TRAIL_N", {Hevc(kTrailN, 0)}, true}, 0},
        {{"RASL_N", {Hevc(kRaslN, 0)}, true}, 0},
        {{"behind a delimiter and SEI", {Hevc(kDelimiter, 0), Hevc(kPrefixSei, 0), Hevc(kTrailN, 0)}, true}, 0},
        {{"TRAIL_N of the highest of two sub-layers", {Hevc(kTrailN, 1)}, true}, 1},
        {{"TRAIL_N below a higher sub-layer", {Hevc(kTrailN, 0)}, false}, 1},
        {{"TRAIL_R", {Hevc(kTrailR, 0)}, false}, 0},
        {{"CRA", {Hevc(kCra, 0)}, false}, 0},
        {{"a VPS ahead of it", {Hevc(kVps, 0), Hevc(kTrailN, 0)}, false}, 0},
        {{"another layer", {Hevc(kTrailN, 0, 1)}, false}, 0},
    };
    for (const HevcCase& h : cases) {
        const Bytes prefixed = Prefixed(h.c.units), annexB = AnnexB(h.c.units);
        EXPECT_EQ(kx::IsUnreferencedHevcPicture(prefixed.data(), static_cast<int>(prefixed.size()),
                                                LengthPrefixedForm(4), h.highestTemporalId),
                  h.c.unreferenced)
            << h.c.what << " (length-prefixed)";
        EXPECT_EQ(kx::IsUnreferencedHevcPicture(annexB.data(), static_cast<int>(annexB.size()), kAnnexBForm,
                                                h.highestTemporalId),
                  h.c.unreferenced)
            << h.c.what << " (Annex B)";
    }
}

TEST(UnreferencedPicture, HevcHighestTemporalIdFromTheDescription) {
    // SPS: header 42 01, then VPS id 0, sps_max_sub_layers_minus1 2, nesting flag.
    const Bytes sps = {0x42, 0x01, 0x05, 0x01, 0x60};
    const Bytes annexB = AnnexB({Hevc(kVps, 0), sps});
    Bytes hvcC(22, 0);
    hvcC[0] = 1;
    hvcC.insert(hvcC.end(), {1, 0x21, 0, 1, 0, static_cast<uint8_t>(sps.size())});
    hvcC.insert(hvcC.end(), sps.begin(), sps.end());
    Bytes truncated(hvcC.begin(), hvcC.end() - 2);
    const Bytes noSps = AnnexB({Hevc(kVps, 0)});
    const struct {
        std::string what;
        Bytes extradata;
        std::optional<int> highest;
    } cases[] = {
        {"Annex B", annexB, 2},
        {"hvcC", hvcC, 2},
        {"a cut hvcC", truncated, std::nullopt},
        {"no SPS", noSps, std::nullopt},
        {"nothing", {}, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kx::HevcHighestTemporalId(c.extradata.data(), c.extradata.size()), c.highest) << c.what;
}
