// The codec identifier rows, the name table built from them, short names and
// the exported codec query.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "caps/CodecIdTable.h"
#include "caps/CodecNameTable.h"
#include "media/MediaKernel.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "TestSupport.h"

namespace {

constexpr int32_t Tag(char a, char b, char c, char d) {
    return static_cast<int32_t>((static_cast<uint32_t>(static_cast<unsigned char>(a)) << 24) |
                                (static_cast<uint32_t>(static_cast<unsigned char>(b)) << 16) |
                                (static_cast<uint32_t>(static_cast<unsigned char>(c)) << 8) |
                                static_cast<uint32_t>(static_cast<unsigned char>(d)));
}

std::map<std::string, int32_t> RowsByName() {
    size_t count = 0;
    const kx::CodecIdRow* rows = kx::CodecIdRows(&count);
    std::map<std::string, int32_t> byName;
    for (size_t i = 0; i < count; ++i) byName[rows[i].name] = rows[i].id;
    return byName;
}

std::u16string ShortName(int32_t id, int* result = nullptr) {
    char16_t buffer[64] = u"untouched";
    int r = kx::GetCodecShortName(id, buffer);
    if (result) *result = r;
    return buffer;
}

}  // namespace

TEST(CapsCodecRows, ExtentCountAndUniqueNames) {
    size_t count = 0;
    const kx::CodecIdRow* rows = kx::CodecIdRows(&count);
    ASSERT_EQ(count, 346u);
    std::set<int32_t> ids;
    std::set<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        ids.insert(rows[i].id);
        EXPECT_TRUE(names.insert(rows[i].name).second) << rows[i].name;
        EXPECT_EQ(std::string(rows[i].name).rfind("AV_CODEC_ID_", 0), 0u) << rows[i].name;
    }
    EXPECT_EQ(ids.size(), 343u);
    EXPECT_STREQ(rows[0].name, "AV_CODEC_ID_NONE");
    EXPECT_EQ(rows[0].id, 0);
    EXPECT_STREQ(rows[count - 1].name, "AV_CODEC_ID_FFMETADATA");
    EXPECT_EQ(rows[count - 1].id, 0x21000);
    // No rows for codecs added to the enumeration later.
    for (const char* later : {"AV_CODEC_ID_VP9", "AV_CODEC_ID_HEVC", "AV_CODEC_ID_AV1", "AV_CODEC_ID_TAK"})
        EXPECT_EQ(names.count(later), 0u) << later;
}

TEST(CapsCodecRows, AnchorValues) {
    const auto rows = RowsByName();
    const std::map<std::string, int32_t> anchors = {
        {"NONE", 0},
        {"MPEG1VIDEO", 1},
        {"MPEG2VIDEO", 2},
        {"H264", 28},
        {"MSS2", 0xa8},
        {"SNOW", Tag('S', 'N', 'O', 'W')},
        {"Y41P", Tag('Y', '4', '1', 'P')},
        {"CPIA", Tag('C', 'P', 'I', 'A')},
        {"FIRST_AUDIO", 0x10000},
        {"PCM_S16LE", 0x10000},
        {"PCM_S24LE", 0x1000c},
        {"PCM_LXF", 0x10019},
        {"S302M", 0x1001a},
        {"PCM_S8_PLANAR", 0x1001b},
        {"ADPCM_IMA_QT", 0x11000},
        {"ADPCM_IMA_APC", 0x1101d},
        {"VIMA", Tag('V', 'I', 'M', 'A')},
        {"AMR_NB", 0x12000},
        {"RA_144", 0x13000},
        {"ROQ_DPCM", 0x14000},
        {"MP2", 0x15000},
        {"MP3", 0x15001},
        {"AAC", 0x15002},
        {"AC3", 0x15003},
        {"DTS", 0x15004},
        {"ILBC", 0x1503c},
        {"FFWAVESYNTH", Tag('F', 'F', 'W', 'S')},
        {"OPUS", Tag('O', 'P', 'U', 'S')},
        {"FIRST_SUBTITLE", 0x17000},
        {"DVD_SUBTITLE", 0x17000},
        {"WEBVTT", Tag('W', 'V', 'T', 'T')},
        {"FIRST_UNKNOWN", 0x18000},
        {"TTF", 0x18000},
        {"IDF", Tag(0, 'I', 'D', 'F')},
        {"PROBE", 0x19000},
        {"MPEG2TS", 0x20000},
        {"MPEG4SYSTEMS", 0x20001},
        {"FFMETADATA", 0x21000},
    };
    for (const auto& [name, value] : anchors) {
        auto it = rows.find("AV_CODEC_ID_" + name);
        ASSERT_NE(it, rows.end()) << name;
        EXPECT_EQ(it->second, value) << name;
    }
}

TEST(CapsCodecRows, TranslateToTheLinkedLibraryByName) {
    EXPECT_EQ(kx::ToLibraryCodecId(28), AV_CODEC_ID_H264);
    EXPECT_EQ(kx::ToLibraryCodecId(0x15002), AV_CODEC_ID_AAC);
    EXPECT_EQ(kx::ToLibraryCodecId(0x1000c), AV_CODEC_ID_PCM_S24LE);
    EXPECT_EQ(kx::ToLibraryCodecId(0x1503c), AV_CODEC_ID_ILBC);
    EXPECT_EQ(kx::ToLibraryCodecId(0xa8), AV_CODEC_ID_MSS2);
    EXPECT_EQ(kx::FromLibraryCodecId(AV_CODEC_ID_H264), 28);
    EXPECT_EQ(kx::FromLibraryCodecId(AV_CODEC_ID_MP2), 0x15000);
    EXPECT_EQ(kx::FromLibraryCodecId(AV_CODEC_ID_MPEG1VIDEO), 1);
    // Enumerators the linked library no longer has map to no codec.
    EXPECT_EQ(kx::ToLibraryCodecId(3), AV_CODEC_ID_NONE);        // MPEG2VIDEO_XVMC
    EXPECT_EQ(kx::ToLibraryCodecId(0x15020), AV_CODEC_ID_NONE);  // VOXWARE
}

TEST(CapsCodecNameTable, WarnsWhenTheLibraryHasNoEncoder) {
    kx::BuildCodecNameTable();
    {
        kxtest::LogCapture log;
        EXPECT_EQ(ShortName(3), u"NONE");  // MPEG2VIDEO_XVMC: gone from the library
        EXPECT_TRUE(log.Contains(FormatLogLine(kx::legacy::kUnknownOutputCodec, 3)));
    }
    {
        kxtest::LogCapture log;
        int result = -1;
        EXPECT_EQ(ShortName(0x12345, &result), u"untouched");
        EXPECT_TRUE(log.Contains(FormatLogLine(kx::legacy::kUnknownOutputCodec, 74565)));
    }
    if (avcodec_find_encoder(AV_CODEC_ID_AAC)) {
        kxtest::LogCapture log;
        EXPECT_EQ(ShortName(0x15002), u"AAC");
        EXPECT_TRUE(log.Lines().empty());
    }
}

TEST(CapsCodecSupport, Answers) {
    kx::BuildCodecNameTable();
    {
        kxtest::LogCapture log;
        EXPECT_EQ(IsCodecSupport(0), 0);
        EXPECT_TRUE(log.Lines().empty());
    }
    EXPECT_EQ(IsCodecSupport(28), avcodec_find_encoder(AV_CODEC_ID_H264) ? 1 : 0);
    EXPECT_EQ(IsCodecSupport(0x15002), 1);
    EXPECT_EQ(IsCodecSupport(0x15003), 1);
    EXPECT_EQ(IsCodecSupport(0x10000), 1);
    EXPECT_EQ(IsCodecSupport(0x1000c), 1);
    EXPECT_EQ(IsCodecSupport(2), 0);        // MPEG-2 video: "NONE"
    EXPECT_EQ(IsCodecSupport(0x15000), 0);  // MP2: "NONE"
    EXPECT_EQ(IsCodecSupport(0x1001b), 0);  // PCM_S8_PLANAR: "NONE"
    {
        kxtest::LogCapture log;
        EXPECT_EQ(IsCodecSupport(0x12345), 0);
        EXPECT_TRUE(log.Contains(FormatLogLine(kx::legacy::kUnknownInputCodec, 74565)));
    }
    {
        // A library codec without a row of ours.
        kxtest::LogCapture log;
        EXPECT_EQ(IsCodecSupport(kx::FromLibraryCodecId(AV_CODEC_ID_HEVC)), 0);
    }
}
