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
        EXPECT_EQ(frame->type, kx::MediaType::kVideo);
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

TEST(DemuxDecode, TruncatedFileDecodesToItsEnd) {
    auto demuxer = OpenDecoding(Fixture("truncated.mp4"), 0);
    ASSERT_NE(demuxer, nullptr);
    auto pictures = DecodeAll(demuxer->GetControl());
    EXPECT_GT(pictures.size(), 50u);
    EXPECT_LE(pictures.size(), 100u);
    EXPECT_EQ(demuxer->GetControl()->IsEndOfStream(), 1);
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
