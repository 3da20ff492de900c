// Decoded sound to interleaved 16-bit PCM: every sample format against
// ffmpeg's own conversion of the same raw samples, planar against packed,
// and the guards (unknown format, short planes, small buffers).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include "input/DecodedFrameStore.h"
#include "input/PcmConversion.h"
#include "TestSupport.h"

namespace {

struct FramePtr {
    AVFrame* frame = av_frame_alloc();
    ~FramePtr() { av_frame_free(&frame); }
    AVFrame* operator->() const { return frame; }
    operator AVFrame*() const { return frame; }
};

// A frame of the format holding the packed bytes (interleaved samples), as
// planes when the format is planar.
void FillFrame(AVFrame* frame, AVSampleFormat format, int channels, const std::vector<uint8_t>& packed) {
    const int bytes = av_get_bytes_per_sample(format);
    frame->format = format;
    frame->sample_rate = 48000;
    av_channel_layout_default(&frame->ch_layout, channels);
    frame->nb_samples = int(packed.size() / (size_t(bytes) * channels));
    ASSERT_EQ(av_frame_get_buffer(frame, 0), 0);
    for (int s = 0; s < frame->nb_samples; ++s)
        for (int c = 0; c < channels; ++c) {
            const uint8_t* from = packed.data() + (size_t(s) * channels + c) * bytes;
            uint8_t* to = av_sample_fmt_is_planar(format) ? frame->extended_data[c] + size_t(s) * bytes
                                                           : frame->extended_data[0] + (size_t(s) * channels + c) * bytes;
            std::memcpy(to, from, bytes);
        }
}

std::vector<uint8_t> Convert(const AVFrame* frame) {
    int64_t size = kx::InterleavedS16Bytes(frame);
    EXPECT_GE(size, 0);
    std::vector<uint8_t> out(size_t(std::max<int64_t>(size, 0)));
    EXPECT_EQ(kx::ConvertToInterleavedS16(frame, out.data(), int64_t(out.size())), size);
    return out;
}

template <typename T>
void Append(std::vector<uint8_t>& bytes, T value) {
    uint8_t raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof raw);
    bytes.insert(bytes.end(), raw, raw + sizeof raw);
}

// ffmpeg's s16le of raw samples of the given input format ("-f f32le" etc.).
std::vector<uint8_t> FfmpegS16(const std::vector<uint8_t>& raw, const std::string& input, int channels) {
    namespace fs = std::filesystem;
    fs::path file = fs::temp_directory_path() / ("kx_pcm_" + std::to_string(::getpid()) + ".raw");
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size()));
    std::string out = kxtest::RunCommand("ffmpeg -nostdin -v error " + input + " -ar 48000 -ac " +
                                         std::to_string(channels) + " -i " + kxtest::Quote(file.string()) +
                                         " -f s16le -acodec pcm_s16le -");
    fs::remove(file);
    return std::vector<uint8_t>(out.begin(), out.end());
}

// Sample values that probe the rounding (ties to even), the clipping and
// the sign; then plenty of ordinary ones. All products with 32768 stay inside
// the 32-bit range, where every conversion path of ffmpeg agrees.
std::vector<double> FloatValues() {
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 1.5, -1.5, 2.0, -2.0, 32767.0 / 32768, -32767.0 / 32768,
                                  60000.0, -60000.0};
    for (int k : {0, 1, 2, 3, 100, 101, 32766, -1, -2, -3, -32767, -32768, -32769})
        values.push_back((k + 0.5) / 32768);  // exactly between two outputs
    for (int k : {1, -1, 7, 32767}) {
        values.push_back((k + 0.4999) / 32768);
        values.push_back((k + 0.5001) / 32768);
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<double> spread(-1.1, 1.1);
    while (values.size() < 4000) values.push_back(spread(random));
    return values;
}

// Values no decoder gives, beyond the 32-bit range after scaling or not numbers.
std::vector<double> OutOfRangeValues() {
    const double inf = std::numeric_limits<double>::infinity();
    return {inf, -inf, std::numeric_limits<double>::quiet_NaN(), 1e9, -1e9, 70000.0, -70000.0, 1e15, -1e15, 1e20};
}

}  // namespace

// The packed formats against ffmpeg converting the same samples; each
// planar twin must give the same bytes as its packed form.
TEST(PcmConversion, EveryFormatEqualsFfmpeg) {
    const int channels = 2;
    std::mt19937_64 random(11);
    std::vector<uint8_t> f32, f64, s32, s64, u8, s16;
    for (double v : FloatValues()) {
        Append(f32, float(v));
        Append(f64, v);
    }
    // ffmpeg converts doubles with plain code only, so there the values out
    // of range must agree too.
    for (double v : OutOfRangeValues()) Append(f64, v);
    while (f64.size() % 16) Append(f64, 0.25);  // whole stereo samples
    std::vector<int32_t> s32Values = {0, 1, -1, 65535, 65536, -65536, -65537, INT32_MAX, INT32_MIN};
    while (s32Values.size() < 4000) s32Values.push_back(int32_t(random()));
    for (int32_t v : s32Values) Append(s32, v);
    std::vector<int64_t> s64Values = {0, 1, -1, int64_t(1) << 48, -(int64_t(1) << 48), INT64_MAX, INT64_MIN};
    while (s64Values.size() < 4000) s64Values.push_back(int64_t(random()));
    for (int64_t v : s64Values) Append(s64, v);
    for (int i = 0; i < 4000; ++i) u8.push_back(uint8_t(i * 7));
    for (int i = 0; i < 4000; ++i) Append(s16, int16_t(random()));

    struct Case {
        AVSampleFormat packed, planar;
        const std::vector<uint8_t>* raw;
        std::string input;  // ffmpeg's reading of the raw samples
    };
    const Case cases[] = {
        {AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP, &f32, "-f f32le"},
        {AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP, &f64, "-f f64le"},
        {AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P, &s32, "-f s32le"},
        {AV_SAMPLE_FMT_S64, AV_SAMPLE_FMT_S64P, &s64, "-f s32le -c:a pcm_s64le"},
        {AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_U8P, &u8, "-f u8"},
        {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P, &s16, "-f s16le"},
    };
    for (const auto& c : cases) {
        const char* name = av_get_sample_fmt_name(c.packed);
        std::vector<uint8_t> want = FfmpegS16(*c.raw, c.input, channels);
        ASSERT_EQ(want.size(), c.raw->size() / av_get_bytes_per_sample(c.packed) * 2) << name;
        FramePtr packed, planar;
        FillFrame(packed, c.packed, channels, *c.raw);
        FillFrame(planar, c.planar, channels, *c.raw);
        EXPECT_EQ(kx::ConvertibleSamples(packed), packed->nb_samples) << name;
        std::vector<uint8_t> got = Convert(packed);
        ASSERT_EQ(got.size(), want.size()) << name;
        for (size_t i = 0; i + 1 < got.size(); i += 2)
            ASSERT_TRUE(got[i] == want[i] && got[i + 1] == want[i + 1]) << name << " sample " << i / 2;
        EXPECT_TRUE(Convert(planar) == want) << av_get_sample_fmt_name(c.planar);
    }
}

// Never reads past a plane nor writes past the buffer; frames that cannot
// be converted say so.
TEST(PcmConversion, Guards) {
    std::vector<uint8_t> raw(6 * 4 * 100, 0x11);  // 100 samples of 6 channels of float
    FramePtr frame;
    FillFrame(frame, AV_SAMPLE_FMT_FLTP, 6, raw);
    EXPECT_EQ(kx::InterleavedS16Bytes(frame), 100 * 6 * 2);

    std::vector<uint8_t> out(100 * 6 * 2 + 8, 0xEE);
    EXPECT_EQ(kx::ConvertToInterleavedS16(frame, out.data(), 100 * 6 * 2 - 1), -1);  // one byte short
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(kx::ConvertToInterleavedS16(frame, out.data(), int64_t(out.size())), 100 * 6 * 2);
    EXPECT_EQ(out[100 * 6 * 2], 0xEE);  // nothing behind the samples

    frame->nb_samples = 1 << 20;  // claims more samples than the planes hold
    EXPECT_LE(kx::ConvertibleSamples(frame), frame->linesize[0] / 4);
    EXPECT_GE(kx::ConvertibleSamples(frame), 100);
    frame->nb_samples = 100;

    uint8_t* third = frame->extended_data[2];
    frame->extended_data[2] = nullptr;  // a missing plane
    EXPECT_EQ(kx::ConvertibleSamples(frame), -1);
    EXPECT_EQ(kx::ConvertToInterleavedS16(frame, out.data(), int64_t(out.size())), -1);
    frame->extended_data[2] = third;

    int format = frame->format;
    frame->format = AV_SAMPLE_FMT_NONE;
    EXPECT_EQ(kx::InterleavedS16Bytes(frame), -1);
    frame->format = AV_SAMPLE_FMT_NB;
    EXPECT_EQ(kx::InterleavedS16Bytes(frame), -1);
    frame->format = format;

    frame->nb_samples = 0;
    EXPECT_EQ(kx::ConvertToInterleavedS16(frame, nullptr, 0), 0);
    EXPECT_EQ(kx::ConvertibleSamples(nullptr), -1);
}
