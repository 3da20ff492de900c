// Whole files copied into another container (a merge of one file): length
// prefixes become start codes and back, and the copy decodes to the source's
// pictures. Copies into the source's own container, and of transport streams
// into MP4 (the mixes), are judged by tests/corpus.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "CliSupport.h"

namespace {

using kxtest::Fixture;
using kxtest::Quote;

struct ContainerCase {
    const char* source;
    const char* output;  // its extension picks the container
    const char* format;  // part of ffprobe's format name
};

void PrintTo(const ContainerCase& c, std::ostream* out) { *out << c.source << " -> " << c.output; }

class MuxContainerTest : public ::testing::TestWithParam<ContainerCase> {};

// Index and codec of each stream (transport streams list theirs twice, under their programs too).
std::set<std::string> Streams(const std::string& path) {
    const auto lines = kxtest::Lines(kxclitest::Probe(path, "-show_entries stream=index,codec_name"));
    return {lines.begin(), lines.end()};
}

std::string Rotation(const std::string& path) {
    return kxclitest::Probe(path, "-select_streams v:0 -show_entries stream_side_data=rotation");
}

TEST_P(MuxContainerTest, CopyDecodesToTheSourcePictures) {
    const ContainerCase& c = GetParam();
    const std::string source = Fixture(c.source);
    const std::string output = kxtest::TempFolder(std::string("mux_") + c.output) + "/" + c.output;
    const kxclitest::Outcome run = kxclitest::Remuxion("merge " + Quote(source) + " -o " + Quote(output) + " -q");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Streams(output), Streams(source));
    EXPECT_NE(kxclitest::Probe(output, "-show_entries format=format_name").find(c.format), std::string::npos);
    EXPECT_EQ(kxtest::DecodeErrors(output), "");
    const auto expected = kxtest::FrameHashes(source);
    ASSERT_GT(expected.size(), 100u);
    EXPECT_EQ(kxtest::FrameHashes(output), expected);
    // MP4 and MOV keep the display matrix (and add none).
    if (std::string(c.format) == "mov") {
        EXPECT_EQ(Rotation(output), Rotation(source));
    }
    if (std::string(c.source) == "rotated90.mp4") {
        EXPECT_NE(Rotation(source), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, MuxContainerTest,
    ::testing::Values(ContainerCase{"h264_aac.mp4", "h264.mov", "mov"},
                      ContainerCase{"h264_aac.mp4", "h264.mkv", "matroska"},
                      ContainerCase{"h264_aac.mp4", "h264.m2ts", "mpegts"},
                      ContainerCase{"h264_aac.mp4", "h264.ts", "mpegts"},
                      ContainerCase{"h264_aac.mkv", "from_mkv.m2ts", "mpegts"},
                      ContainerCase{"h264_aac.ts", "from_ts.avi", "avi"},
                      // B-frames: decoding order differs from presentation order.
                      ContainerCase{"h264_bframes_opengop.mp4", "bframes.m2ts", "mpegts"},
                      ContainerCase{"h264_bframes_opengop.mp4", "bframes.mkv", "matroska"},
                      ContainerCase{"h264_bframes_opengop.mp4", "bframes.avi", "avi"},
                      ContainerCase{"rotated90.mp4", "rotated.mov", "mov"}));

}  // namespace
