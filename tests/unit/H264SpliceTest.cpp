// An H.264 stream copied from the key frame of an open group, rewritten to
// start at an IDR picture with its leading pictures left out, must decode on
// its own (ffmpeg, no message) to exactly the source's pictures from that key
// frame on. The inputs are x264's open groups with the reference structures
// that make the renumbering hard: B-pyramids whose left-out leading pictures
// are references, several references and slices, weighted prediction,
// CAVLC and MBAFF.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "TaskTestSupport.h"
#include "TestSupport.h"
#include "input/H264KeyFrame.h"
#include "input/H264PacketForm.h"
#include "output/H264BitstreamForms.h"
#include "output/H264OpenKeySplice.h"

namespace {

using kxtest::Quote;
using kxtest::RunCommand;

struct SourcePacket {
    std::vector<uint8_t> bytes;
    int64_t pts = 0;
    bool key = false;
};

struct SpliceCase {
    const char* name;
    const char* x264;  // besides open groups of 20 pictures
    const char* extension;
};

const SpliceCase kSpliceCases[] = {
    {"pyramid_mp4", "bframes=3:b-pyramid=normal:ref=4:weightp=2:slices=2", "mp4"},
    {"pyramid_ts", "bframes=3:b-pyramid=normal:ref=4:weightp=2:slices=2", "ts"},
    {"cavlc_mkv", "cabac=0:bframes=2:ref=3", "mkv"},
    {"mbaff_mp4", "interlaced=1:bframes=2:ref=2", "mp4"},
    {"flat_b_ts", "bframes=2:b-pyramid=none:ref=2", "ts"},
};

class H264SpliceTest : public ::testing::TestWithParam<SpliceCase> {};

// The stream in Annex B form: the description's parameter sets, then each packet.
void AppendAnnexB(std::vector<uint8_t>* out, std::vector<uint8_t> packet, kx::H264PacketForm form) {
    if (form.framing == kx::H264Framing::LengthPrefixed) {
        ASSERT_TRUE(kx::LengthPrefixesToStartCodes(packet.data(), packet.size()));
    }
    out->insert(out->end(), packet.begin(), packet.end());
}

TEST_P(H264SpliceTest, CopiedFromEachOpenKeyFrameDecodesToTheSourcesPictures) {
    const SpliceCase& c = GetParam();
    const std::string folder = kxtest::TempFolder(std::string("h264_splice_") + c.name);
    const std::string source = folder + "/source." + c.extension;
    int status = 0;
    RunCommand(
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=192x112:rate=25:duration=4 -c:v libx264 "
        "-preset veryfast -pix_fmt yuv420p -x264-params open-gop=1:keyint=20:min-keyint=20:scenecut=0:" +
            std::string(c.x264) + " " + Quote(source) + " 2>&1",
        &status);
    ASSERT_EQ(status, 0);

    kxtest::MediaInput input = kxtest::OpenMediaInput(source);
    ASSERT_TRUE(input);
    const AVCodecParameters* video = input->streams[0]->codecpar;
    const kx::H264PacketForm form = kx::H264FormOfStream(video);
    const auto extradataSize = static_cast<size_t>(video->extradata_size);
    std::vector<SourcePacket> packets;
    kxtest::ForEachPacket(input.get(), [&](AVPacket* p) {
        if (p->stream_index == 0)
            packets.push_back({{p->data, p->data + p->size}, p->pts, (p->flags & AV_PKT_FLAG_KEY) != 0});
    });
    kx::H264ParameterSets sets;
    ASSERT_TRUE(kx::ParseH264ParameterSets(video->extradata, extradataSize, &sets));
    const std::vector<std::string> shown = kxtest::FrameHashes(source);
    ASSERT_EQ(shown.size(), packets.size());

    int spliced = 0;
    for (size_t key = 1; key < packets.size(); ++key) {
        const SourcePacket& k = packets[key];
        if (!k.key || kx::IsH264IdrPicture(k.bytes.data(), static_cast<int>(k.bytes.size()), form)) continue;
        SCOPED_TRACE("key frame at packet " + std::to_string(key));
        kx::H264OpenKeySplice splice(video->extradata, extradataSize, form);
        std::vector<uint8_t> stream = kx::BuildAnnexBHeader(sets);
        size_t shownBefore = 0;
        for (const auto& p : packets) shownBefore += p.pts < k.pts ? 1 : 0;
        for (size_t i = key; i < packets.size(); ++i) {
            const bool leftOut = packets[i].pts < k.pts;
            std::optional<std::vector<uint8_t>> rewritten;
            ASSERT_TRUE(splice.Take(packets[i].bytes.data(), packets[i].bytes.size(), leftOut, &rewritten))
                << splice.Problem();
            if (!leftOut) AppendAnnexB(&stream, rewritten ? *rewritten : packets[i].bytes, form);
        }
        EXPECT_TRUE(splice.Settled());
        const std::string path = folder + "/spliced_" + std::to_string(key) + ".h264";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
        EXPECT_EQ(RunCommand("ffmpeg -nostdin -v warning -i " + Quote(path) + " -f null - 2>&1"), "");
        const std::vector<std::string> want(shown.begin() + static_cast<ptrdiff_t>(shownBefore), shown.end());
        EXPECT_EQ(kxtest::FrameHashes(path), want);
        ++spliced;
    }
    EXPECT_GE(spliced, 3);
}

INSTANTIATE_TEST_SUITE_P(X264OpenGroups, H264SpliceTest, ::testing::ValuesIn(kSpliceCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
