// The byte-level H.264 forms: start codes, length prefixes, parameter sets,
// avcC records.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "output/H264BitstreamForms.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kCode4 = {0, 0, 0, 1};
const Bytes kCode3 = {0, 0, 1};

// An SPS and a PPS NAL unit (header byte first) of the given sizes.
Bytes Sps(size_t size) {
    Bytes unit(size, 0xA5);
    unit[0] = 0x67;
    if (size > 3) {
        unit[1] = 0x64;  // profile_idc
        unit[2] = 0x00;  // constraint flags
        unit[3] = 0x1E;  // level_idc
    }
    return unit;
}
Bytes Pps(size_t size) {
    Bytes unit(size, 0x5A);
    unit[0] = 0x68;
    return unit;
}

Bytes BigEndian16(size_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
Bytes BigEndian32(size_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

Bytes AvcC(const Bytes& sps, const Bytes& pps) {
    return Concat({{1, sps[1], sps[2], sps[3], 0xFF, 0xE1}, BigEndian16(sps.size()), sps, {1},
                   BigEndian16(pps.size()), pps});
}

Bytes Stored(const uint8_t* store, uint32_t length) { return Bytes(store, store + length); }

TEST(H264FormsTest, FindNalUnitRunsFromAStartCodeToTheNext) {
    const Bytes data = Concat({{0xEE}, kCode4, {0x65, 1, 2, 3}, kCode3, {0x41, 7, 7, 7, 7}});
    auto unit = kx::FindNalUnit(data.data(), data.data() + data.size());
    ASSERT_TRUE(unit);
    EXPECT_EQ(unit->data, data.data() + 5);
    EXPECT_EQ(unit->size, 4u);

    unit = kx::FindNalUnit(unit->data + unit->size, data.data() + data.size());
    ASSERT_TRUE(unit);
    EXPECT_EQ(unit->data, data.data() + 12);
    EXPECT_EQ(unit->size, 5u);  // the last unit runs to the end

    // Nothing in ranges of 4 bytes or fewer, nor without a start code.
    const Bytes tiny = {0, 0, 1, 0x65};
    EXPECT_FALSE(kx::FindNalUnit(tiny.data(), tiny.data() + tiny.size()));
    const Bytes plain(64, 0x11);
    EXPECT_FALSE(kx::FindNalUnit(plain.data(), plain.data() + plain.size()));
    EXPECT_FALSE(kx::FindNalUnit(nullptr, nullptr));
}

TEST(H264FormsTest, ParameterSetsComeFromAnnexBAndFromAvcC) {
    const Bytes sps = Sps(25);
    const Bytes pps = Pps(6);
    const Bytes annexB = Concat({kCode4, {0x09, 0xF0}, kCode3, sps, kCode4, pps});
    kx::H264ParameterSets fromAnnexB;
    ASSERT_TRUE(kx::ParseH264ParameterSets(annexB.data(), annexB.size(), &fromAnnexB));
    EXPECT_EQ(Stored(fromAnnexB.sps, fromAnnexB.spsLength), Concat({kCode4, sps}));
    EXPECT_EQ(Stored(fromAnnexB.pps, fromAnnexB.ppsLength), Concat({kCode4, pps}));

    const Bytes record = AvcC(sps, pps);
    kx::H264ParameterSets fromAvcC;
    ASSERT_TRUE(kx::ParseH264ParameterSets(record.data(), record.size(), &fromAvcC));
    EXPECT_EQ(Stored(fromAvcC.sps, fromAvcC.spsLength), Concat({kCode4, sps}));
    EXPECT_EQ(Stored(fromAvcC.pps, fromAvcC.ppsLength), Concat({kCode4, pps}));

    // What an earlier call stored counts: an SPS alone, then a PPS alone.
    kx::H264ParameterSets split;
    const Bytes spsOnly = Concat({kCode4, sps});
    const Bytes ppsOnly = Concat({kCode4, pps});
    EXPECT_FALSE(kx::ParseH264ParameterSets(spsOnly.data(), spsOnly.size(), &split));
    EXPECT_TRUE(kx::ParseH264ParameterSets(ppsOnly.data(), ppsOnly.size(), &split));
    EXPECT_FALSE(kx::ParseH264ParameterSets(nullptr, 0, nullptr));
}

TEST(H264FormsTest, AvcCRunningPastItsEndContributesNothing) {
    const Bytes sps = Sps(25);
    const Bytes pps = Pps(6);
    const Bytes record = AvcC(sps, pps);
    // Every truncation of a valid record: an SPS length, the PPS count or a
    // PPS length then points past the end. Exact-size copies let a sanitizer
    // see any read beyond.
    for (size_t size = 0; size < record.size(); ++size) {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[size == 0 ? 1 : size]);
        std::memcpy(copy.get(), record.data(), size);
        kx::H264ParameterSets sets;
        EXPECT_FALSE(kx::ParseH264ParameterSets(copy.get(), size, &sets)) << size;
        EXPECT_EQ(sets.spsLength, 0u) << size;
        EXPECT_EQ(sets.ppsLength, 0u) << size;
    }
    // A count of 31 SPS in a record that holds one.
    Bytes tooMany = record;
    tooMany[5] = 0xFF;
    kx::H264ParameterSets sets;
    EXPECT_FALSE(kx::ParseH264ParameterSets(tooMany.data(), tooMany.size(), &sets));
}

TEST(H264FormsTest, ParameterSetsOver1020BytesAreNotStored) {
    const Bytes largest = Sps(1020);
    const Bytes tooLarge = Sps(1021);
    const Bytes pps = Pps(4);
    kx::H264ParameterSets sets;
    Bytes record = AvcC(tooLarge, pps);
    EXPECT_FALSE(kx::ParseH264ParameterSets(record.data(), record.size(), &sets));
    EXPECT_EQ(sets.spsLength, 0u);
    EXPECT_EQ(sets.ppsLength, 8u);
    record = AvcC(largest, pps);
    EXPECT_TRUE(kx::ParseH264ParameterSets(record.data(), record.size(), &sets));
    EXPECT_EQ(sets.spsLength, 1024u);
    const Bytes annexB = Concat({kCode4, Sps(1400), kCode4, pps});
    kx::H264ParameterSets fromAnnexB;
    EXPECT_FALSE(kx::ParseH264ParameterSets(annexB.data(), annexB.size(), &fromAnnexB));
    EXPECT_EQ(fromAnnexB.spsLength, 0u);
}

TEST(H264FormsTest, GlobalHeadersInBothForms) {
    const Bytes sps = Sps(23);  // n
    const Bytes pps = Pps(5);   // m
    kx::H264ParameterSets sets;
    const Bytes record = AvcC(sps, pps);
    ASSERT_TRUE(kx::ParseH264ParameterSets(record.data(), record.size(), &sets));

    // Annex B: n + m + 8 bytes, SPS first.
    EXPECT_EQ(kx::BuildAnnexBHeader(sets), Concat({kCode4, sps, kCode4, pps}));

    // avcC: 11 + n + m bytes, 0xFF and 0xE1 at 4 and 5.
    const Bytes built = kx::BuildAvcCRecord(sets);
    ASSERT_EQ(built.size(), 11u + 23u + 5u);
    EXPECT_EQ(built[0], 1);
    EXPECT_EQ(built[1], 0x64);
    EXPECT_EQ(built[2], 0x00);
    EXPECT_EQ(built[3], 0x1E);
    EXPECT_EQ(built[4], 0xFF);
    EXPECT_EQ(built[5], 0xE1);
    EXPECT_EQ(built, record);

    // An SPS too short for profile and level gives no record.
    kx::H264ParameterSets shortSps;
    const Bytes annexB = Concat({kCode4, Sps(3), kCode4, pps});
    ASSERT_TRUE(kx::ParseH264ParameterSets(annexB.data(), annexB.size(), &shortSps));
    EXPECT_TRUE(kx::BuildAvcCRecord(shortSps).empty());
}

TEST(H264FormsTest, LengthPrefixesBecomeStartCodes) {
    const Bytes first(20, 0x21);
    const Bytes second(30, 0x32);
    Bytes packet = Concat({BigEndian32(20), first, BigEndian32(30), second});
    ASSERT_EQ(packet.size(), 58u);
    EXPECT_TRUE(kx::LengthPrefixesToStartCodes(packet.data(), packet.size()));
    EXPECT_EQ(packet, Concat({kCode4, first, kCode4, second}));

    // A length below 1 fails.
    Bytes zero = Concat({BigEndian32(20), first, BigEndian32(0), second});
    EXPECT_FALSE(kx::LengthPrefixesToStartCodes(zero.data(), zero.size()));
    Bytes negative = Concat({BigEndian32(0x80000000u), first});
    EXPECT_FALSE(kx::LengthPrefixesToStartCodes(negative.data(), negative.size()));

    // A last length past the end takes the rest; 1 to 3 bytes too short for
    // a prefix become zero bytes.
    Bytes overlong = Concat({BigEndian32(20), first, BigEndian32(500), second});
    EXPECT_TRUE(kx::LengthPrefixesToStartCodes(overlong.data(), overlong.size()));
    EXPECT_EQ(overlong, Concat({kCode4, first, kCode4, second}));
    for (size_t rest = 1; rest <= 3; ++rest) {
        Bytes tail = Concat({BigEndian32(20), first, Bytes(rest, 0x77)});
        EXPECT_TRUE(kx::LengthPrefixesToStartCodes(tail.data(), tail.size()));
        EXPECT_EQ(tail, Concat({kCode4, first, Bytes(rest, 0)}));
    }
    Bytes three = {0, 0, 5};
    EXPECT_TRUE(kx::LengthPrefixesToStartCodes(three.data(), three.size()));
    EXPECT_EQ(three, (Bytes{0, 0, 5}));
}

TEST(H264FormsTest, StartCodesBecomeLengthPrefixes) {
    // A single unit behind 00 00 00 01: the prefix is the length of the rest.
    Bytes single = Concat({kCode4, {0x65}, Bytes(95, 0xAB)});
    ASSERT_EQ(single.size(), 100u);
    const Bytes prefixed = kx::StartCodesToLengthPrefixes(single.data(), single.size());
    EXPECT_EQ(prefixed, Concat({{0, 0, 0, 0x60}, {0x65}, Bytes(95, 0xAB)}));

    // Three-byte start codes grow to four-byte prefixes; nothing is lost.
    const Bytes aud = {0x09, 0xF0};
    const Bytes sps = Sps(12);
    const Bytes slice = Concat({{0x65}, Bytes(40, 0x3C)});
    const Bytes annexB = Concat({kCode4, aud, kCode3, sps, kCode3, slice});
    EXPECT_EQ(kx::StartCodesToLengthPrefixes(annexB.data(), annexB.size()),
              Concat({BigEndian32(2), aud, BigEndian32(12), sps, BigEndian32(41), slice}));
    EXPECT_TRUE(kx::StartCodesToLengthPrefixes(nullptr, 0).empty());
}

TEST(H264FormsTest, LengthPrefixChainsAreToldFromAnnexB) {
    // A unit of 300 bytes: its prefix 00 00 01 2C looks like a start code.
    const Bytes unit(300, 0x41);
    const Bytes prefixed = Concat({BigEndian32(300), unit, BigEndian32(2), {0x09, 0xF0}});
    EXPECT_TRUE(kx::IsLengthPrefixChain(prefixed.data(), prefixed.size()));
    EXPECT_TRUE(kx::BeginsWithThreeByteStartCode(prefixed.data(), prefixed.size()));
    // A one-byte unit first: 00 00 00 01.
    const Bytes tiny = Concat({BigEndian32(1), {0x0A}, BigEndian32(3), {0x65, 1, 2}});
    EXPECT_TRUE(kx::IsLengthPrefixChain(tiny.data(), tiny.size()));
    // Annex B, a length past the end, a zero length, a remainder: no chain.
    const Bytes annexB = Concat({kCode4, {0x09, 0xF0}, kCode4, {0x65, 1, 2, 3}});
    EXPECT_FALSE(kx::IsLengthPrefixChain(annexB.data(), annexB.size()));
    const Bytes overlong = Concat({BigEndian32(10), {0x65, 1, 2}});
    EXPECT_FALSE(kx::IsLengthPrefixChain(overlong.data(), overlong.size()));
    const Bytes zero = Concat({BigEndian32(3), {0x65, 1, 2}, BigEndian32(0)});
    EXPECT_FALSE(kx::IsLengthPrefixChain(zero.data(), zero.size()));
    const Bytes remainder = Concat({BigEndian32(3), {0x65, 1, 2}, {0, 0}});
    EXPECT_FALSE(kx::IsLengthPrefixChain(remainder.data(), remainder.size()));
    EXPECT_FALSE(kx::IsLengthPrefixChain(nullptr, 0));
}

}  // namespace
