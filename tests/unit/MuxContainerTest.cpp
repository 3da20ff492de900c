// Whole fixtures copied through CTMuxer into every container the component
// writes; ffprobe and ffmpeg judge the results.
#include <gtest/gtest.h>

#include <string>

#include "MuxTestSupport.h"
#include "TestSupport.h"

namespace {

struct ContainerCase {
    const char* source;
    const char* output;  // file name, its extension picks the container
    const char* streams;  // ffprobe's "codec_name,codec_type" lines
    const char* format;   // ffprobe's format name
};

void PrintTo(const ContainerCase& c, std::ostream* out) { *out << c.source << " -> " << c.output; }

class MuxContainerTest : public ::testing::TestWithParam<ContainerCase> {};

// A copy has the source's streams, decodes without a single error and gives
// the very same pictures.
TEST_P(MuxContainerTest, CopyDecodesToTheSourcePictures) {
    const ContainerCase& c = GetParam();
    const std::string source = kxtest::Fixture(c.source);
    const std::string output = muxtest::OutputPath(c.output);

    const muxtest::CopyResult copy = muxtest::CopyThroughMuxer(source, output);
    ASSERT_EQ(copy.openResult, 0);
    ASSERT_EQ(copy.headerResult, 0);
    EXPECT_EQ(copy.writeFailures, 0);
    EXPECT_GT(copy.packetsWritten, 100);
    EXPECT_EQ(copy.closeResult, 0);

    EXPECT_EQ(muxtest::ProbeStreams(output), c.streams);
    EXPECT_EQ(muxtest::ProbeFormat(output), std::string(c.format) + "\n");
    EXPECT_EQ(kxtest::DecodeErrors(output), "");

    const auto expected = kxtest::FrameHashes(source);
    ASSERT_GT(expected.size(), 100u);
    EXPECT_EQ(kxtest::FrameHashes(output), expected);
}

constexpr const char* kH264Aac = "h264,video\naac,audio\n";

INSTANTIATE_TEST_SUITE_P(
    Containers, MuxContainerTest,
    ::testing::Values(ContainerCase{"h264_aac.mp4", "copy_mp4.mp4", kH264Aac, "mov,mp4,m4a,3gp,3g2,mj2"},
                      ContainerCase{"h264_aac.mp4", "copy_mov.mov", kH264Aac, "mov,mp4,m4a,3gp,3g2,mj2"},
                      ContainerCase{"h264_aac.mp4", "copy_mkv.mkv", kH264Aac, "matroska,webm"},
                      ContainerCase{"h264_aac.mp4", "copy_mts.mts", kH264Aac, "mpegts"},
                      ContainerCase{"h264_aac.mp4", "copy_m2ts.m2ts", kH264Aac, "mpegts"},
                      ContainerCase{"h264_aac.mp4", "copy_ts.ts", kH264Aac, "mpegts"},
                      ContainerCase{"h264_mp3.avi", "copy_avi.avi", "h264,video\nmp3,audio\n", "avi"},
                      ContainerCase{"mpeg1.mpg", "copy_mpg.mpg", "mpeg1video,video\nmp2,audio\n", "mpeg"},
                      // Annex B sources into containers that keep length prefixes, and back.
                      ContainerCase{"h264_aac.ts", "from_ts.mp4", kH264Aac, "mov,mp4,m4a,3gp,3g2,mj2"},
                      ContainerCase{"h264_aac.m2ts", "from_m2ts.mov", kH264Aac, "mov,mp4,m4a,3gp,3g2,mj2"},
                      ContainerCase{"h264_aac.mkv", "from_mkv.m2ts", kH264Aac, "mpegts"},
                      ContainerCase{"h264_aac.ts", "from_ts.avi", kH264Aac, "avi"},
                      // B-frames: decoding order differs from presentation order.
                      ContainerCase{"h264_bframes_opengop.mp4", "bframes.mp4", kH264Aac, "mov,mp4,m4a,3gp,3g2,mj2"},
                      ContainerCase{"h264_bframes_opengop.mp4", "bframes.m2ts", kH264Aac, "mpegts"},
                      ContainerCase{"h264_bframes_opengop.mp4", "bframes.mkv", kH264Aac, "matroska,webm"},
                      ContainerCase{"h264_bframes_opengop.mp4", "bframes.avi", kH264Aac, "avi"}));

// Length prefixes to start codes and back again lose nothing.
TEST(MuxChainTest, Mp4ToM2tsToMp4KeepsThePictures) {
    const std::string source = kxtest::Fixture("h264_aac.mp4");
    const std::string middle = muxtest::OutputPath("chain_middle.m2ts");
    const std::string last = muxtest::OutputPath("chain_last.mp4");
    ASSERT_EQ(muxtest::CopyThroughMuxer(source, middle).writeFailures, 0);
    const muxtest::CopyResult back = muxtest::CopyThroughMuxer(middle, last);
    ASSERT_EQ(back.headerResult, 0);
    EXPECT_EQ(back.writeFailures, 0);

    EXPECT_EQ(kxtest::DecodeErrors(middle), "");
    EXPECT_EQ(muxtest::ProbeStreams(last), kH264Aac);
    EXPECT_EQ(kxtest::DecodeErrors(last), "");
    const auto expected = kxtest::FrameHashes(source);
    ASSERT_GT(expected.size(), 100u);
    EXPECT_EQ(kxtest::FrameHashes(middle), expected);
    EXPECT_EQ(kxtest::FrameHashes(last), expected);
}

// The display matrix reaches the track header of MP4 and MOV outputs.
TEST(MuxRotationTest, RotatedSourceStaysRotated) {
    const std::string source = kxtest::Fixture("rotated90.mp4");
    const std::string sourceRotation = muxtest::ProbeRotation(source);
    ASSERT_TRUE(sourceRotation == "90" || sourceRotation == "-90") << sourceRotation;
    for (const char* name : {"rotated.mp4", "rotated.mov"}) {
        const std::string output = muxtest::OutputPath(name);
        ASSERT_EQ(muxtest::CopyThroughMuxer(source, output).headerResult, 0) << name;
        EXPECT_EQ(muxtest::ProbeRotation(output), sourceRotation) << name;
    }
    // A source without a matrix gives an output without one.
    const std::string plain = muxtest::OutputPath("not_rotated.mp4");
    ASSERT_EQ(muxtest::CopyThroughMuxer(kxtest::Fixture("h264_aac.mp4"), plain).headerResult, 0);
    EXPECT_EQ(muxtest::ProbeRotation(plain), "");
}

}  // namespace
