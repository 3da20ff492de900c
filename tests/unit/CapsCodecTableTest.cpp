// The codec numbers hosts use (28 = H.264): what the linked library calls
// them, their short names, and the exported codec query.
#include <gtest/gtest.h>

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "caps/CodecNameTable.h"
#include "media/MediaKernel.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "TestSupport.h"

TEST(CapsCodecTable, HostNumbersMapToTheLibraryShortNamesAndSupport) {
    kx::BuildCodecNameTable();
    const struct {
        int32_t id;
        AVCodecID library;
        std::u16string shortName;
        int32_t supported;
    } cases[] = {
        {28, AV_CODEC_ID_H264, u"H264", 1},
        {0x15002, AV_CODEC_ID_AAC, u"AAC", 1},
        {0x15003, AV_CODEC_ID_AC3, u"AC3", 1},
        {0x10000, AV_CODEC_ID_PCM_S16LE, u"PCM", 1},
        {0x1000c, AV_CODEC_ID_PCM_S24LE, u"PCM", 1},
        {1, AV_CODEC_ID_MPEG1VIDEO, u"MPEG1", 1},
        {2, AV_CODEC_ID_MPEG2VIDEO, u"MPEG2", 1},
        {0x15000, AV_CODEC_ID_MP2, u"MP2", 1},
        {0x1001b, AV_CODEC_ID_PCM_S8_PLANAR, u"NONE", 0},
        // Codecs the numbering lacked keep the numbers the interface gave them.
        {KX_CODEC_HEVC, AV_CODEC_ID_HEVC, u"HEVC", 1},
        {KX_CODEC_VP9, AV_CODEC_ID_VP9, u"VP9", 1},
        {KX_CODEC_AV1, AV_CODEC_ID_AV1, u"AV1", 1},
        // Rows numbered by four-character tags translate too.
        {0x53526970, AV_CODEC_ID_SUBRIP, u"SUBRIP", 1},
        {0x59343150, AV_CODEC_ID_Y41P, u"NONE", 0},
        // Past the gaps of the numbering.
        {0xa8, AV_CODEC_ID_MSS2, u"NONE", 0},
        {0x1503c, AV_CODEC_ID_ILBC, u"NONE", 0},
        // Gone from the linked library: no codec.
        {3, AV_CODEC_ID_NONE, u"NONE", 0},
        {0x15020, AV_CODEC_ID_NONE, u"NONE", 0},
        // No row at all: the name is left as it was.
        {0x12345, AV_CODEC_ID_NONE, u"untouched", 0},
        {kx::FromLibraryCodecId(AV_CODEC_ID_CFHD), AV_CODEC_ID_CFHD, u"untouched", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(kx::ToLibraryCodecId(c.id), c.library);
        if (c.library != AV_CODEC_ID_NONE) {
            EXPECT_EQ(kx::FromLibraryCodecId(c.library), c.id);
        }
        char16_t name[64] = u"untouched";
        kx::GetCodecShortName(c.id, name);
        EXPECT_EQ(std::u16string(name), c.shortName);
        EXPECT_EQ(IsCodecSupport(c.id), c.supported);
    }

    // Numbers the library cannot encode are logged in the words hosts parse.
    kxtest::LogCapture log;
    char16_t name[64];
    EXPECT_EQ(IsCodecSupport(0), 0);
    kx::GetCodecShortName(0x15002, name);
    EXPECT_TRUE(log.Lines().empty());
    kx::GetCodecShortName(3, name);
    IsCodecSupport(0x12345);
    EXPECT_EQ(log.Lines(), (std::vector<std::u16string>{FormatLogLine(kx::legacy::kUnknownOutputCodec, 3),
                                                        FormatLogLine(kx::legacy::kUnknownInputCodec, 74565)}));
}
