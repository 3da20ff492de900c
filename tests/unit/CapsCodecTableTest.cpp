// The codec identifier rows, the name table built from them, short names and
// the exported codec query.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>

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
    ASSERT_EQ(count, 350u);
    std::set<int32_t> ids;
    std::set<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        ids.insert(rows[i].id);
        EXPECT_TRUE(names.insert(rows[i].name).second) << rows[i].name;
        EXPECT_EQ(std::string(rows[i].name).rfind("AV_CODEC_ID_", 0), 0u) << rows[i].name;
    }
    EXPECT_EQ(ids.size(), 347u);
    EXPECT_STREQ(rows[0].name, "AV_CODEC_ID_NONE");
    EXPECT_EQ(rows[0].id, 0);
    // The old numbering ends here; the rows after it are codecs it lacks.
    EXPECT_STREQ(rows[count - 5].name, "AV_CODEC_ID_FFMETADATA");
    EXPECT_EQ(rows[count - 5].id, 0x21000);
    const std::pair<const char*, int32_t> added[] = {
        {"AV_CODEC_ID_HEVC", KX_CODEC_HEVC},
        {"AV_CODEC_ID_VP9", KX_CODEC_VP9},
        {"AV_CODEC_ID_AV1", KX_CODEC_AV1},
        {"AV_CODEC_ID_ASS", KX_CODEC_ASS},
    };
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_STREQ(rows[count - 4 + i].name, added[i].first);
        EXPECT_EQ(rows[count - 4 + i].id, added[i].second) << added[i].first;
    }
    EXPECT_EQ(names.count("AV_CODEC_ID_TAK"), 0u);
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
    // Both ways; rows above the unmapped base are rows all the same.
    const std::pair<int32_t, AVCodecID> both[] = {
        {28, AV_CODEC_ID_H264},
        {0x15002, AV_CODEC_ID_AAC},
        {0x1000c, AV_CODEC_ID_PCM_S24LE},
        {0x1503c, AV_CODEC_ID_ILBC},
        {0xa8, AV_CODEC_ID_MSS2},
        {0x15000, AV_CODEC_ID_MP2},
        {1, AV_CODEC_ID_MPEG1VIDEO},
        {Tag('Y', '4', '1', 'P'), AV_CODEC_ID_Y41P},
        {Tag('O', 'P', 'U', 'S'), AV_CODEC_ID_OPUS},
        {Tag('S', 'R', 'i', 'p'), AV_CODEC_ID_SUBRIP},
        {KX_CODEC_HEVC, AV_CODEC_ID_HEVC},
        {KX_CODEC_VP9, AV_CODEC_ID_VP9},
        {KX_CODEC_AV1, AV_CODEC_ID_AV1},
        {KX_CODEC_ASS, AV_CODEC_ID_ASS},
        // No row: carried above the base.
        {kx::kUnmappedCodecBase + AV_CODEC_ID_TAK, AV_CODEC_ID_TAK},
    };
    for (const auto& [ours, library] : both) {
        EXPECT_EQ(kx::ToLibraryCodecId(ours), library) << std::hex << ours;
        EXPECT_EQ(kx::FromLibraryCodecId(library), ours) << avcodec_get_name(library);
    }
    // The new rows keep the numbers the interface gave these codecs before.
    for (AVCodecID codec : {AV_CODEC_ID_HEVC, AV_CODEC_ID_VP9, AV_CODEC_ID_AV1, AV_CODEC_ID_ASS})
        EXPECT_EQ(kx::FromLibraryCodecId(codec), kx::kUnmappedCodecBase + codec) << avcodec_get_name(codec);
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
    // 1: FFmpeg has an encoder and the row a short name other than "NONE".
    const std::tuple<int32_t, int32_t, const char*> cases[] = {
        {28, 1, "H264"},
        {0x15002, 1, "AAC"},
        {0x15003, 1, "AC3"},
        {0x10000, 1, "PCM"},
        {0x1000c, 1, "PCM"},
        {2, 1, "MPEG2"},
        {0x15000, 1, "MP2"},
        {0x15004, 1, "DTS: an experimental encoder counts"},
        {0x17000, 1, "DVDSUB"},
        {KX_CODEC_HEVC, 1, "HEVC"},
        {KX_CODEC_VP9, 1, "VP9"},
        {KX_CODEC_AV1, 1, "AV1"},
        {KX_CODEC_ASS, 1, "ASS"},
        {0x1001b, 0, "PCM_S8_PLANAR: NONE"},
        {0x17006, 0, "PGS: FFmpeg has no encoder"},
        {0x17004, 0, "SSA: FFmpeg encodes it as ASS only"},
        {kx::kUnmappedCodecBase + AV_CODEC_ID_TAK, 0, "no row"},
    };
    for (const auto& [id, answer, what] : cases) EXPECT_EQ(IsCodecSupport(id), answer) << what;
    {
        kxtest::LogCapture log;
        EXPECT_EQ(IsCodecSupport(0x12345), 0);
        EXPECT_TRUE(log.Contains(FormatLogLine(kx::legacy::kUnknownInputCodec, 74565)));
    }
}
