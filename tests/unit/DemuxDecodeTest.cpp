#include <gtest/gtest.h>

#include <cmath>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/md5.h>
}

#include "DemuxProbe.h"
#include "TestSupport.h"
#include "input/CTMultiDemuxer.h"
#include "input/DecodedFrameStore.h"

using kxtest::Fixture;

namespace {

std::string Md5(const uint8_t* data, size_t size) {
    uint8_t digest[16];
    av_md5_sum(digest, data, size);
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

// ffmpeg's per-frame MD5 of the luma plane of every decoded picture.
std::vector<std::string> FfmpegLumaHashes(const std::string& path) {
    std::string out = kxtest::RunCommand("ffmpeg -v error -i " + demuxtest::Quote(path) +
                                         " -map 0:v:0 -vf extractplanes=y -autoscale 0 -fps_mode passthrough -f framemd5 -");
    std::vector<std::string> hashes;
    for (const auto& line : demuxtest::Split(out, '\n')) {
        if (line.empty() || line[0] == '#') continue;
        auto fields = demuxtest::Split(line, ',');
        std::string hash = fields.back();
        hash.erase(0, hash.find_first_not_of(' '));
        hashes.push_back(hash);
    }
    return hashes;
}

struct Picture {
    int64_t pts;
    int width, height;
    std::string lumaHash;
};

std::unique_ptr<kx::ITDemuxer> OpenDecoding(const std::string& path, int stream) {
    std::unique_ptr<kx::ITDemuxer> demuxer(CreateMultiDemuxer());
    if (demuxer->Open(kxtest::Wide(path).c_str(), 1) != 0 || demuxer->AddStream(stream) != 0 ||
        demuxer->StartDemuxer() != 0)
        return nullptr;
    return demuxer;
}

// What the decoding stream object does: ReadNext, then GetDecodedFrame.
std::vector<Picture> DecodeAll(kx::ITDemuxerControl* control) {
    std::vector<Picture> pictures;
    while (control->ReadNext() == 1) {
        kx::DecodedFrame* frame = control->GetDecodedFrame();
        if (!frame) break;
        EXPECT_EQ(frame->type, kx::kMediaVideo);
        EXPECT_EQ(frame->duration, -1);
        EXPECT_EQ(frame->dts, frame->pts);
        EXPECT_EQ(frame->video.u, frame->video.y + frame->video.width * frame->video.height);
        EXPECT_EQ(frame->video.v, frame->video.u + (frame->video.width / 2) * (frame->video.height / 2));
        EXPECT_EQ(frame->video.yRowLength, frame->video.width);
        EXPECT_EQ(frame->video.uRowLength, frame->video.width / 2);
        pictures.push_back({frame->pts, frame->video.width, frame->video.height,
                            Md5(frame->video.y, size_t(frame->video.width) * frame->video.height)});
        if (pictures.size() > 10000) break;
    }
    return pictures;
}

}  // namespace

// Every decoded picture equals ffmpeg's, in count, order and luma bytes, and
// carries the best-effort time less the stream's start.
TEST(DemuxDecode, PicturesEqualFfmpegFrames) {
    for (const char* file : {"h264_aac.mp4", "h264_bframes_opengop.mp4", "h264_aac.ts", "mpeg1.mpg"}) {
        std::string path = Fixture(file);
        auto demuxer = OpenDecoding(path, 0);
        ASSERT_NE(demuxer, nullptr) << file;
        auto pictures = DecodeAll(demuxer->GetControl());
        auto want = FfmpegLumaHashes(path);
        ASSERT_EQ(pictures.size(), want.size()) << file;
        for (size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(pictures[i].lumaHash, want[i]) << file << " picture " << i;
            ASSERT_EQ(pictures[i].width, 320);
            ASSERT_EQ(pictures[i].height, 240);
        }
        // Times: ffprobe's best-effort timestamps, less the start, in ticks.
        AVRational tb = demuxtest::ProbeTimeBase(path, 0);
        auto stream = demuxtest::ProbeStream(path, 0);
        int64_t start = stream["start_pts"] == "N/A" ? 0 : std::stoll(stream["start_pts"]);
        std::string out = kxtest::RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=best_effort_timestamp"
                                             " -of csv=p=0 " + demuxtest::Quote(path));
        std::vector<int64_t> times;
        for (const auto& line : demuxtest::Split(out, '\n'))
            if (!line.empty()) times.push_back(demuxtest::ToTicks(std::to_string(std::stoll(line) - start), tb));
        ASSERT_EQ(times.size(), pictures.size()) << file;
        for (size_t i = 0; i < times.size(); ++i) ASSERT_EQ(pictures[i].pts, times[i]) << file << " picture " << i;
    }
}

TEST(DemuxDecode, SeekThenDecodeGivesTheKeyPicture) {
    std::string path = Fixture("h264_aac.mp4");
    auto want = FfmpegLumaHashes(path);
    auto demuxer = OpenDecoding(path, 0);
    auto* control = demuxer->GetControl();
    ASSERT_EQ(DecodeAll(control).size(), 250u);  // to the end, then back
    for (double seconds : {3.0, 6.5, 0.0}) {
        EXPECT_EQ(control->Seek(seconds, kx::SeekMode::kBackwardKey, 0), 1) << seconds;
        auto pictures = DecodeAll(control);
        size_t first = static_cast<size_t>(std::ceil(seconds)) * 25;
        ASSERT_EQ(pictures.size(), 250 - first) << seconds;
        EXPECT_EQ(pictures[0].pts, int64_t(first) * 400000);
        for (size_t i = 0; i < pictures.size(); ++i) ASSERT_EQ(pictures[i].lumaHash, want[first + i]) << seconds << " " << i;
    }
}

TEST(DemuxDecode, AudioBlocksAdvanceTheClock) {
    std::string path = Fixture("h264_aac.mp4");
    auto demuxer = OpenDecoding(path, 1);
    ASSERT_NE(demuxer, nullptr);
    auto* control = demuxer->GetControl();
    int blocks = 0;
    int64_t expectedPts = 0;
    while (control->ReadNext() == 1) {
        kx::SampleInfo info;
        ASSERT_EQ(control->GetSampleInfo(&info), 1);
        kx::DecodedFrame* frame = control->GetDecodedFrame();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->type, kx::kMediaAudio);
        EXPECT_EQ(info.pts, expectedPts);
        EXPECT_EQ(frame->pts, expectedPts);  // the clock starts at the stream's start (0)
        EXPECT_EQ(frame->duration, 213333);  // 1024 samples at 48 kHz
        EXPECT_EQ(frame->audio.sampleRate, 48000);
        EXPECT_EQ(frame->audio.channels, 2);
        EXPECT_EQ(frame->audio.bitsPerSample, 16);
        EXPECT_EQ(frame->audio.bytesHeld, 1024 * 2 * 2);  // both channels, 16-bit interleaved
        EXPECT_GE(frame->audio.capacity, frame->audio.bytesHeld);
        expectedPts += 213333;
        ++blocks;
    }
    std::string out = kxtest::RunCommand("ffprobe -v error -select_streams a -show_entries frame=nb_samples -of csv=p=0 " +
                                         demuxtest::Quote(path));
    size_t want = 0;
    for (const auto& line : demuxtest::Split(out, '\n')) want += !line.empty();
    EXPECT_EQ(size_t(blocks), want);
    EXPECT_EQ(control->GetDecodedFrame(), nullptr);  // ended
}

TEST(DemuxDecode, TruncatedFileDecodesToItsEnd) {
    auto demuxer = OpenDecoding(Fixture("truncated.mp4"), 0);
    ASSERT_NE(demuxer, nullptr);
    auto pictures = DecodeAll(demuxer->GetControl());
    EXPECT_GT(pictures.size(), 50u);
    EXPECT_LE(pictures.size(), 100u);
    EXPECT_EQ(demuxer->GetControl()->IsEndOfStream(), 1);
}

// A stream whose pictures grow midway: the record's buffer follows, and the
// pictures still equal ffmpeg's.
TEST(DemuxDecode, PictureSizeChangeMidStream) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("kx_demux_resize_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string small = (dir / "small.ts").string(), large = (dir / "large.ts").string(), both = (dir / "both.ts").string();
    const std::string x264 = " -c:v libx264 -preset ultrafast -g 10 -bf 0 -pix_fmt yuv420p ";
    kxtest::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=160x120:rate=25:duration=1" + x264 + small);
    kxtest::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=322x242:rate=25:duration=1" + x264 + large);
    kxtest::RunCommand("cat " + small + " " + large + " > " + both);
    auto want = FfmpegLumaHashes(both);
    ASSERT_EQ(want.size(), 50u);
    auto demuxer = OpenDecoding(both, 0);
    ASSERT_NE(demuxer, nullptr);
    auto pictures = DecodeAll(demuxer->GetControl());
    ASSERT_EQ(pictures.size(), want.size());
    EXPECT_EQ(pictures.front().width, 160);
    EXPECT_EQ(pictures.back().width, 322);
    EXPECT_EQ(pictures.back().height, 242);
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(pictures[i].lumaHash, want[i]) << i;
    fs::remove_all(dir);
}

// The packing rule on odd sizes and other layouts: never past a plane,
// missing columns and rows repeat the last, missing planes read as 128.
TEST(DemuxDecode, PackingOfOddAndUnusualPictures) {
    auto makeFrame = [](AVPixelFormat format, int w, int h) {
        AVFrame* frame = av_frame_alloc();
        frame->format = format;
        frame->width = w;
        frame->height = h;
        EXPECT_EQ(av_frame_get_buffer(frame, 1), 0);
        for (int p = 0; p < 4 && frame->data[p]; ++p)
            for (int y = 0; y < (p ? (h + 1) / 2 : h); ++y)
                for (int x = 0; x < frame->linesize[p]; ++x) frame->data[p][y * frame->linesize[p] + x] = uint8_t(p * 64 + y * 8 + x);
        return frame;
    };
    kx::DecodedFrame* record = kx::CreateVideoFrameRecord(2, 2);
    ASSERT_NE(record, nullptr);
    AVFrame* odd = makeFrame(AV_PIX_FMT_YUV420P, 5, 3);
    ASSERT_TRUE(kx::FillVideoRecord(record, odd));
    EXPECT_EQ(record->video.width, 6);
    EXPECT_EQ(record->video.height, 4);
    EXPECT_EQ(record->video.y[5], record->video.y[4]);            // column 5 repeats column 4
    EXPECT_EQ(record->video.y[3 * 6 + 2], record->video.y[2 * 6 + 2]);  // row 3 repeats row 2
    EXPECT_EQ(record->video.u[0], odd->data[1][0]);
    EXPECT_EQ(record->video.v[1 * 3 + 2], odd->data[2][1 * odd->linesize[2] + 2]);
    av_frame_free(&odd);

    AVFrame* gray = makeFrame(AV_PIX_FMT_GRAY8, 64, 48);
    ASSERT_TRUE(kx::FillVideoRecord(record, gray));  // larger than before: a new buffer
    EXPECT_GE(record->storageSize, 64 * 48 + 2 * 32 * 24);
    EXPECT_EQ(record->video.u[0], 128);
    EXPECT_EQ(record->video.v[32 * 24 - 1], 128);
    av_frame_free(&gray);

    AVFrame* quarter = makeFrame(AV_PIX_FMT_YUV410P, 16, 16);  // chroma 4x4
    ASSERT_TRUE(kx::FillVideoRecord(record, quarter));
    EXPECT_EQ(record->video.u[7 * 8 + 7], record->video.u[3 * 8 + 3]);
    av_frame_free(&quarter);

    AVFrame* packed = makeFrame(AV_PIX_FMT_RGB24, 7, 5);
    ASSERT_TRUE(kx::FillVideoRecord(record, packed));
    EXPECT_EQ(record->video.width, 8);
    av_frame_free(&packed);

    AVFrame* empty = av_frame_alloc();
    EXPECT_FALSE(kx::FillVideoRecord(record, empty));
    EXPECT_FALSE(kx::FillVideoRecord(nullptr, empty));
    av_frame_free(&empty);
    kx::FreeDecodedFrame(record);
}
