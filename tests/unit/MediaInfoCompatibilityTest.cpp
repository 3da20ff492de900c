// Whether one stream can be written where another was, without re-encoding.
// The stream descriptions are read here straight from the library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include "TestSupport.h"
#include "input/DemuxTypes.h"
#include "media/MediaKernel.h"
#include "input/CTMediaInfo.h"

namespace {

// A StreamMediaInfo filled from the library's view of one stream of a file,
// the way the analysis layer describes streams.
struct StreamDescription {
    kx::StreamMediaInfo info;
    std::unique_ptr<uint8_t[]> extradata;
};

bool Describe(const std::string& path, AVMediaType type, StreamDescription* out) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) != 0) return false;
    bool found = false;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        const int index = av_find_best_stream(context, type, -1, -1, nullptr, 0);
        if (index >= 0) {
            const AVStream* stream = context->streams[index];
            const AVCodecParameters* par = stream->codecpar;
            AVCodecContext* codec = avcodec_alloc_context3(nullptr);
            avcodec_parameters_to_context(codec, par);
            kx::StreamMediaInfo& info = out->info;
            info.streamIndex = index;
            info.codecId = kx::FromLibraryCodecId(par->codec_id);
            out->extradata.reset(new uint8_t[par->extradata_size + 1]);
            if (par->extradata_size > 0) std::memcpy(out->extradata.get(), par->extradata, par->extradata_size);
            if (type == AVMEDIA_TYPE_VIDEO) {
                auto& v = info.video;
                info.mediaType = kx::kMediaVideo;
                v.width = par->width;
                v.height = par->height;
                v.bitRate = static_cast<int32_t>(par->bit_rate);
                v.codecTimeBase[0] = stream->avg_frame_rate.den;
                v.codecTimeBase[1] = stream->avg_frame_rate.num * 2;
                v.streamTimeBase[0] = stream->time_base.num;
                v.streamTimeBase[1] = stream->time_base.den;
                v.ticksPerFrame = 2;
                v.pixelFormat = par->format;
                v.profile = par->profile;
                v.level = par->level;
                v.gopSize = codec->gop_size;
                v.maxBFrames = par->video_delay;
                v.frameRate[0] = stream->r_frame_rate.num;
                v.frameRate[1] = stream->r_frame_rate.den;
                v.extradata = out->extradata.get();
                v.extradataSize = par->extradata_size;
                v.displayWidth = par->width * par->sample_aspect_ratio.num;
                v.displayHeight = par->height * par->sample_aspect_ratio.den;
                const int32_t* matrix = reinterpret_cast<const int32_t*>(
                    av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
                if (matrix) {
                    const int picks[6] = {0, 1, 3, 4, 6, 7};
                    for (int i = 0; i < 6; ++i) v.displayMatrix[i] = matrix[picks[i]];
                }
                v.startTime = stream->start_time;
            } else {
                auto& a = info.audio;
                info.mediaType = kx::kMediaAudio;
                a.bitRate = static_cast<int32_t>(par->bit_rate);
                a.sampleFormat = par->format;
                a.sampleRate = par->sample_rate;
                a.channels = par->ch_layout.nb_channels;
                a.codecTimeBase[0] = 1;
                a.codecTimeBase[1] = par->sample_rate;
                a.streamTimeBase[0] = stream->time_base.num;
                a.streamTimeBase[1] = stream->time_base.den;
                a.channelLayout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
                a.blockAlign = par->block_align;
                a.extradata = out->extradata.get();
                a.extradataSize = par->extradata_size;
                a.codecTag = static_cast<int32_t>(par->codec_tag);
                a.frameSize = par->frame_size;
            }
            avcodec_free_context(&codec);
            found = true;
        }
    }
    avformat_close_input(&context);
    return found;
}

StreamDescription Video(const std::string& name) {
    StreamDescription d;
    EXPECT_TRUE(Describe(kxtest::Fixture(name), AVMEDIA_TYPE_VIDEO, &d)) << name;
    return d;
}

StreamDescription Audio(const std::string& name) {
    StreamDescription d;
    EXPECT_TRUE(Describe(kxtest::Fixture(name), AVMEDIA_TYPE_AUDIO, &d)) << name;
    return d;
}

int Compatible(const kx::StreamMediaInfo& a, const kx::StreamMediaInfo& b) {
    return kx::CTMediaInfo::IsStreamFormatCompatible(&a, &b);
}

}  // namespace

TEST(MediaInfoCompatibility, FilesThatDifferOnlyInBitRateAndLength) {
    StreamDescription va = Video("h264_aac.mp4"), vb = Video("h264_aac_lowrate.mp4");
    ASSERT_NE(va.info.video.bitRate, vb.info.video.bitRate);
    EXPECT_EQ(Compatible(va.info, vb.info), 1);
    EXPECT_EQ(Compatible(vb.info, va.info), 1);
    StreamDescription aa = Audio("h264_aac.mp4"), ab = Audio("h264_aac_lowrate.mp4");
    EXPECT_EQ(Compatible(aa.info, ab.info), 1);
    // The same pictures in another container.
    StreamDescription vm = Video("h264_aac.mkv");
    EXPECT_EQ(Compatible(va.info, vm.info), 1);
}

TEST(MediaInfoCompatibility, AacWithOtherExtradataIsNot) {
    StreamDescription a = Audio("h264_aac.mp4"), mono = Audio("h264_aac_mono44k.mp4");
    EXPECT_EQ(Compatible(a.info, mono.info), 0);
    // Only the extradata bytes differ.
    StreamDescription b = Audio("h264_aac_lowrate.mp4");
    ASSERT_GT(b.info.audio.extradataSize, 0);
    b.info.audio.extradata[b.info.audio.extradataSize - 1] ^= 0x08;
    EXPECT_EQ(Compatible(a.info, b.info), 0);
    // Only the extradata size differs.
    StreamDescription c = Audio("h264_aac_lowrate.mp4");
    c.info.audio.extradataSize -= 1;
    EXPECT_EQ(Compatible(a.info, c.info), 0);
    // Differences that are not compared.
    StreamDescription d = Audio("h264_aac_lowrate.mp4");
    d.info.audio.bitRate = 1;
    d.info.audio.blockAlign = 7;
    d.info.audio.codecTag = 42;
    d.info.audio.streamTimeBase[1] = 90000;
    EXPECT_EQ(Compatible(a.info, d.info), 1);
}

TEST(MediaInfoCompatibility, VideoFieldsAndDisplay) {
    StreamDescription a = Video("h264_aac.mp4");
    EXPECT_EQ(Compatible(a.info, Video("rotated90.mp4").info), 0);  // display matrix
    EXPECT_EQ(Compatible(a.info, Video("mpeg1.mpg").info), 0);
    EXPECT_EQ(Compatible(a.info, Audio("h264_aac.mp4").info), 0);  // media types differ

    kx::StreamMediaInfo x = a.info, y = a.info;
    x.video.displayWidth = 16000;
    x.video.displayHeight = 9000;  // 1.7778
    y.video.displayWidth = 17770;
    y.video.displayHeight = 10000;
    EXPECT_EQ(Compatible(x, y), 1);
    y.video.displayWidth = 17760;
    EXPECT_EQ(Compatible(x, y), 0);

    y = a.info;
    y.video.bitRate += 1000;
    y.video.streamTimeBase[1] = 1;
    y.video.extradataSize = 0;
    y.video.codecCapabilities = 5;
    y.video.startTime = 12345;
    EXPECT_EQ(Compatible(a.info, y), 1);
    for (int field = 0; field < 8; ++field) {
        y = a.info;
        switch (field) {
        case 0: y.codecId = 1; break;
        case 1: y.video.gopSize += 1; break;
        case 2: y.video.maxBFrames += 1; break;
        case 3: y.video.frameRate[0] += 1; break;
        case 4: y.video.level += 1; break;
        case 5: y.video.pixelFormat += 1; break;
        case 6: y.video.codecTimeBase[1] += 1; break;
        case 7: y.video.displayMatrix[5] = 1; break;
        }
        EXPECT_EQ(Compatible(a.info, y), 0) << field;
    }
}

TEST(MediaInfoCompatibility, MediaTypes) {
    kx::StreamMediaInfo a, b;
    a.mediaType = b.mediaType = kx::kMediaSubtitle;
    a.codecId = 1;
    EXPECT_EQ(Compatible(a, b), 1);
    a.mediaType = b.mediaType = 4;
    EXPECT_EQ(Compatible(a, b), 0);
    EXPECT_EQ(kx::CTMediaInfo::IsStreamFormatCompatible(nullptr, &b), 0);
    EXPECT_EQ(kx::CTMediaInfo::IsStreamFormatCompatible(&a, nullptr), 0);
}
