// Key frames of HEVC, VP9 and AV1 told from packet bytes, judged by ffprobe on
// real encodes: packet by packet in every container, and through the readers
// on copies whose container flags only the first packet as key.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "input/Av1KeyFrame.h"
#include "input/CTSingleTDemuxer.h"
#include "input/KeyFrameIndexStore.h"
#include "input/VideoKeyFrame.h"
#include "TaskTestSupport.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string KeyMedia(const std::string& name) { return kxtest::Fixture("keyframes/" + name); }

// Our answer for every packet of stream 0, the container's flags unread.
std::vector<bool> BitstreamKeys(const std::string& path) {
    std::vector<bool> keys;
    const kxtest::MediaInput input = kxtest::OpenMediaInput(path);
    if (!input) return keys;
    const AVCodecParameters* parameters = input->streams[0]->codecpar;
    const kx::BitstreamForm form = kx::BitstreamFormOfStream(parameters);
    kxtest::ForEachPacket(input.get(), [&](AVPacket* packet) {
        if (packet->stream_index == 0)
            keys.push_back(kx::IsKeyFrameByBitstream(parameters->codec_id, packet->data, packet->size, form));
    });
    return keys;
}

// Stream 0 copied into a Matroska file that flags only its first packet as
// key: the demuxer seeks by the key frames it knows of, and a scan begins
// with a seek to the start.
bool CopyWithFirstKeyFlagOnly(const std::string& path, const std::string& copy) {
    const kxtest::MediaInput input = kxtest::OpenMediaInput(path);
    AVFormatContext* output = nullptr;
    if (!input || avformat_alloc_output_context2(&output, nullptr, "matroska", copy.c_str()) < 0) return false;
    AVStream* stream = avformat_new_stream(output, nullptr);
    bool ok = stream && avcodec_parameters_copy(stream->codecpar, input->streams[0]->codecpar) >= 0;
    if (ok) stream->codecpar->codec_tag = 0;
    ok =
        ok && avio_open(&output->pb, copy.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(output, nullptr) >= 0;
    bool first = true;
    kxtest::ForEachPacket(input.get(), [&](AVPacket* packet) {
        if (!ok || packet->stream_index != 0) return;
        if (!first) packet->flags &= ~AV_PKT_FLAG_KEY;
        first = false;
        av_packet_rescale_ts(packet, input->streams[0]->time_base, stream->time_base);
        ok = av_interleaved_write_frame(output, packet) >= 0;
    });
    ok = ok && av_write_trailer(output) >= 0;
    avio_closep(&output->pb);
    avformat_free_context(output);
    return ok;
}

// The key frames found by a reader of stream 0: the scan's frame numbers, and
// the key flags of the packets it reads.
struct ReaderKeys {
    std::vector<int64_t> scanned;
    std::vector<bool> read;
};

ReaderKeys ReadKeys(const std::string& path) {
    ReaderKeys keys;
    const auto reader = kxtest::OpenReader(path, 0);
    if (!reader) return keys;
    const kx::KeyFrameIndex* index = reader->GetAnalyze()->GetKeyFrameIndex(0);
    for (int32_t i = 0; i < kx::KeyFrameCount(index); ++i) keys.scanned.push_back(index->entries[i].frameNumber);
    for (const auto& packet : kxtest::ReadControl(reader->GetControl(), true)) keys.read.push_back(packet.key);
    return keys;
}

}  // namespace

// Each encode has a key frame every 20 pictures: open-GOP HEVC starts its
// GOPs with CRA pictures, closed-GOP HEVC with IDR pictures. MP4 and MKV
// length-prefix the HEVC units, TS delimits them with start codes. The
// library flags VP9 and AV1 key frames from the bytes itself, whatever the
// container says, so only HEVC copies lose their flags.
TEST(DemuxVideoKeyFrame, BitstreamFindsExactlyTheFlaggedKeyFrames) {
    struct Case {
        const char* file;
        bool throughReaders;  // also read a copy whose container flags only the first key frame
    };
    const Case cases[] = {{"hevc_open_gop.mp4", true},
                          {"hevc_open_gop.mkv", false},
                          {"hevc_open_gop.ts", false},
                          {"hevc_closed_gop.mp4", true},
                          {"hevc_closed_gop.mkv", false},
                          {"hevc_closed_gop.ts", false},
                          {"vp9.webm", false},
                          {"vp9.mp4", false},
                          {"av1.mkv", false},
                          {"av1.mp4", false}};
    for (const auto& [file, throughReaders] : cases) {
        const std::string path = KeyMedia(file);
        const auto want = kxtest::ProbeTicks(path, 0);
        const auto got = BitstreamKeys(path);
        ASSERT_EQ(got.size(), want.size()) << file;
        std::vector<int64_t> wantNumbers;
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i], want[i].key) << file << " packet " << i;
            if (want[i].key) wantNumbers.push_back(static_cast<int64_t>(i));
        }
        ASSERT_GE(wantNumbers.size(), 4u) << file;
        if (!throughReaders) continue;

        const std::string copy = kxtest::TempFolder("keyframes") + "/" + file + ".mkv";
        ASSERT_TRUE(CopyWithFirstKeyFlagOnly(path, copy)) << file;
        const auto copied = kxtest::ProbeTicks(copy, 0);
        ASSERT_EQ(copied.size(), want.size()) << file;
        for (size_t i = 0; i < copied.size(); ++i) ASSERT_EQ(copied[i].key, i == 0) << file << " copy " << i;
        const ReaderKeys found = ReadKeys(copy);
        EXPECT_EQ(found.scanned, wantNumbers) << file;
        ASSERT_EQ(found.read.size(), want.size()) << file;
        for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(found.read[i], want[i].key) << file << " read " << i;
    }
}

// What the encodes above do not hold: packets cut short or odd, and the
// profiles and superframes libvpx does not make here. Empty packets, and
// superframes whose first frame decides, are fuzz_video_keyframe's.
TEST(DemuxVideoKeyFrame, CraftedPackets) {
    const kx::BitstreamForm annexB{kx::kAnnexBForm}, prefixed{kx::LengthPrefixedForm(4)}, still{{}, true};
    struct Case {
        const char* what;
        AVCodecID codec;
        Bytes packet;
        bool key;
        kx::BitstreamForm form = {};
    };
    const Case cases[] = {
        {"HEVC IDR of layer 1", AV_CODEC_ID_HEVC, {0, 0, 0, 1, 0x26, 0x09, 0xAF, 0x11}, false, annexB},
        {"HEVC reserved IRAP type 22", AV_CODEC_ID_HEVC, {0, 0, 0, 1, 0x2C, 0x01, 0xAF, 0x11}, true, annexB},
        {"HEVC IDR cut short by the end", AV_CODEC_ID_HEVC, {0, 0, 0, 9, 0x26, 0x01, 0xAF}, true, prefixed},
        {"HEVC header cut in half", AV_CODEC_ID_HEVC, {0, 0, 0, 1, 0x26}, false, prefixed},
        {"HEVC length prefix past the end", AV_CODEC_ID_HEVC, {0, 0, 0, 9}, false, prefixed},
        {"AV1 hidden key frame", AV_CODEC_ID_AV1, {0x32, 0x02, 0x00, 0xAA}, false},
        {"AV1 intra-only frame", AV_CODEC_ID_AV1, {0x32, 0x02, 0x50, 0xAA}, false},
        {"AV1 key frame, extension, no size field", AV_CODEC_ID_AV1, {0x34, 0x08, 0x10, 0xAA}, true},
        {"AV1 size field cut short", AV_CODEC_ID_AV1, {0x32, 0x80}, false},
        {"AV1 still picture by the packet", AV_CODEC_ID_AV1, {0x0A, 0x01, 0x18, 0x32, 0x02, 0x00, 0xAA}, true},
        {"AV1 still picture by the extradata", AV_CODEC_ID_AV1, {0x32, 0x02, 0x00, 0xAA}, true, still},
        {"VP9 profile 1 key frame", AV_CODEC_ID_VP9, {0xA2, 0x49, 0x83, 0x42, 0x00}, true},
        {"VP9 profile 3 key frame", AV_CODEC_ID_VP9, {0xB1, 0x24, 0xC1, 0xA1, 0x00}, true},
        {"VP9 profile 3, reserved bit set", AV_CODEC_ID_VP9, {0xB9, 0x24, 0xC1, 0xA1, 0x00}, false},
        {"VP9 wrong sync code", AV_CODEC_ID_VP9, {0x82, 0x49, 0x83, 0x43, 0x00}, false},
        {"VP9 header cut short", AV_CODEC_ID_VP9, {0x82, 0x49, 0x83}, false},
        {"VP9 frame sizes past the index", AV_CODEC_ID_VP9, {0x82, 0x49, 0x83, 0x42, 0xC1, 9, 1, 0xC1}, false},
        {"MPEG-2: the container's flag alone", AV_CODEC_ID_MPEG2VIDEO, {0, 0, 1, 0xB3, 0x14, 0x00}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kx::IsKeyFrameByBitstream(c.codec, c.packet.data(), static_cast<int>(c.packet.size()), c.form), c.key)
            << c.what;
    }
    EXPECT_FALSE(kx::IsKeyFrameByBitstream(AV_CODEC_ID_VP9, nullptr, 5, {}));

    // reduced_still_picture_header in a sequence header OBU, in an av1C record or alone.
    const Bytes av1C = {0x81, 0x00, 0x0C, 0x00, 0x0A, 0x01, 0x18};
    EXPECT_TRUE(kx::Av1StillPicturesOfExtradata(av1C.data(), av1C.size()));
    EXPECT_TRUE(kx::Av1StillPicturesOfExtradata(av1C.data() + 4, 3));
    EXPECT_FALSE(kx::Av1StillPicturesOfExtradata(av1C.data(), 4));
}
