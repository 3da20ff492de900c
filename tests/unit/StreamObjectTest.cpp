// The decoding stream object (GetStream, IMediaStreamEx) against ffmpeg's
// own decoding: each picture by MD5 of its Y, U and V planes, each block of
// sound by MD5 of its interleaved 16-bit samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
}

#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "TaskTestSupport.h"
#include "TestSupport.h"

using kxtest::Fixture;

namespace {

std::string Md5(const uint8_t* data, size_t size) {
    uint8_t digest[16];
    av_md5_sum(digest, data, size);
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

// ffmpeg's decoded frames of one stream, one MD5 each: pictures as planar
// 4:2:0 (Y, then U, then V, each at its own size), sound as s16le.
std::vector<std::string> FfmpegHashes(const std::string& path, int32_t index) {
    return kxtest::FrameHashes(path, "-autoscale 0 -pix_fmt yuv420p -c:a pcm_s16le", std::to_string(index));
}

template <typename T>
void Append(std::vector<uint8_t>& bytes, T value) {
    uint8_t raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof raw);
    bytes.insert(bytes.end(), raw, raw + sizeof raw);
}

// 48 kHz stereo files of every packed sample format a decoder hands out, and
// of planar 32-bit. The values probe the rounding (ties to even), the
// clipping and the sign, then come plenty of ordinary ones; the products with
// 32768 stay inside the 32-bit range, where every conversion path of ffmpeg
// agrees. ffmpeg converts doubles with plain code only, so there values out
// of range and not numbers must agree too.
std::vector<std::string> PcmFiles() {
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 1.5, -1.5, 2.0, -2.0, 32767.0 / 32768, -32767.0 / 32768,
                                  6e4, -6e4};
    for (int k : {0, 1, 2, 3, 100, 101, 32766, -1, -2, -3, -32767, -32768, -32769})
        values.push_back((k + 0.5) / 32768);  // exactly between two outputs
    for (int k : {1, -1, 7, 32767}) {
        values.push_back((k + 0.4999) / 32768);
        values.push_back((k + 0.5001) / 32768);
    }
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> spread(-1.1, 1.1);
    while (values.size() < 4000) values.push_back(spread(random));
    std::vector<uint8_t> f32, f64, s32, s64, u8, s16;
    for (double v : values) Append(f32, float(v)), Append(f64, v);
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {inf, -inf, std::numeric_limits<double>::quiet_NaN(), 1e9, -1e9, 7e4, -7e4, 1e15, -1e15, 1e20})
        Append(f64, v);
    for (int64_t v : {int64_t(0), int64_t(1), int64_t(-1), int64_t(1) << 48, INT64_MAX, INT64_MIN}) Append(s64, v);
    for (int32_t v : {0, 1, -1, 65535, 65536, -65536, -65537, INT32_MAX, INT32_MIN}) Append(s32, v);
    while (s64.size() < 32000) Append(s64, int64_t(random()));
    while (s32.size() < 16000) Append(s32, int32_t(random()));
    while (s16.size() < 8000) Append(s16, int16_t(random()));
    for (int i = 0; i < 4000; ++i) u8.push_back(uint8_t(i * 7));
    // Name, samples, how ffmpeg reads them, codec.
    const std::tuple<const char*, const std::vector<uint8_t>&, const char*, const char*> made[] = {
        {"f32.wav", f32, "f32le", "pcm_f32le"},
        {"f64.wav", f64, "f64le", "pcm_f64le"},
        {"s32.wav", s32, "s32le", "pcm_s32le"},
        {"s64.nut", s64, "s32le -c:a pcm_s64le", "pcm_s64le"},
        {"u8.wav", u8, "u8", "pcm_u8"},
        {"s16.wav", s16, "s16le", "pcm_s16le"},
        {"s32p.m4a", s32, "s32le", "alac -sample_fmt s32p"},
    };
    const std::string folder = kxtest::TempFolder("stream_pcm");
    std::vector<std::string> files;
    for (const auto& [name, samples, input, codec] : made) {
        files.push_back(folder + "/" + name);
        std::ofstream(files.back() + ".raw", std::ios::binary)
            .write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size()));
        kxtest::RunCommand("ffmpeg -nostdin -v error -f " + std::string(input) + " -ar 48000 -ac 2 -i " + files.back() +
                           ".raw -c:a " + codec + " " + files.back());
    }
    return files;
}

// The sample object is handed out as its own (non-delegating) unknown; a host
// calls its QueryInterface by slot number, as a C host does.
HRESULT QueryBySlot(IUnknown* unknown, REFIID riid, void** out) {
    using QueryFn = HRESULT (*)(void*, REFIID, void**);
    void** table = *reinterpret_cast<void***>(unknown);
    return reinterpret_cast<QueryFn>(table[0])(unknown, riid, out);
}

struct Frame {
    int64_t pts, duration;
    std::string hash;
    const MediaFrameRecord* record;
    int32_t width, height;  // or the sound's bytes and 0
    bool key;
};

// A converter with one file and one decoding stream object of it.
struct StreamUnderTest {
    StreamUnderTest(const std::string& path, int32_t index, int32_t kind) {
        const int64_t id = task.Add(path, {{index, kind}});
        if (id < 0 || task->GetStream(id, index, kind, &stream) != KX_S_OK || !stream) return;
        if (IUnknown* unknown = stream->GetSampleObject())
            QueryBySlot(unknown, &IID_IKXSample, reinterpret_cast<void**>(&sample));
    }
    ~StreamUnderTest() {
        if (sample) sample->Release();
        if (stream) stream->Release();
    }
    bool ok() const { return stream && sample; }

    std::vector<Frame> ReadFrames(size_t limit = 100000) {
        std::vector<Frame> frames;
        while (frames.size() < limit && stream->ReadNextFrame() == 1) {
            const MediaFrameRecord* r = sample->GetFrameRecord();
            if (!r) {
                ADD_FAILURE() << "a frame read without its record";
                break;
            }
            EXPECT_EQ(r->decodeTime, r->presentationTime);
            const MediaFramePlanar& p = r->video.planar;
            if (r->mediaType == KX_SAMPLE_VIDEO) {
                std::vector<uint8_t> bytes(p.y, p.y + size_t(p.yRowLength) * p.height);
                const size_t chroma = size_t(p.uRowLength) * (p.height / 2);
                bytes.insert(bytes.end(), p.u, p.u + chroma);
                bytes.insert(bytes.end(), p.v, p.v + chroma);
                frames.push_back({r->presentationTime, r->duration, Md5(bytes.data(), bytes.size()), r, p.width,
                                  p.height, r->video.keyFrame != 0});
            } else {
                frames.push_back({r->presentationTime, r->duration, Md5(r->audio.buffer, size_t(r->audio.bytesHeld)), r,
                                  r->audio.bytesHeld, 0, true});
            }
        }
        return frames;
    }

    kxtest::Task task;
    IMediaStreamEx* stream = nullptr;
    IKXSample* sample = nullptr;
};

}  // namespace

// Every picture and every block of sound equals ffmpeg's, in count, order
// and bytes, whatever the decoder's own format (planar float for AAC and
// MP3, planar 16-bit for MP2, and every format of PcmFiles). Pictures keep
// the decoder's times; sound times run on without gap from the stream's
// start. At the end the last frame stays in the sample.
TEST(StreamObject, FramesEqualFfmpegDecoding) {
    struct Case {
        std::string path;
        int32_t index, kind;
        int sampleRate, channels;
    };
    std::vector<Case> cases = {
        {Fixture("h264_aac.mp4"), 0, KX_STREAM_VIDEO, 0, 0},
        {Fixture("h264_bframes_opengop.mp4"), 0, KX_STREAM_VIDEO, 0, 0},
        {Fixture("h264_aac.ts"), 0, KX_STREAM_VIDEO, 0, 0},
        {Fixture("mpeg1.mpg"), 0, KX_STREAM_VIDEO, 0, 0},
        {Fixture("truncated.mp4"), 0, KX_STREAM_VIDEO, 0, 0},  // decodes to where it ends
        {Fixture("h264_aac.mp4"), 1, KX_STREAM_AUDIO, 48000, 2},
        {Fixture("h264_aac_mono44k.mp4"), 1, KX_STREAM_AUDIO, 44100, 1},
        {Fixture("mpeg1.mpg"), 1, KX_STREAM_AUDIO, 48000, 1},
        {Fixture("h264_mp3.avi"), 1, KX_STREAM_AUDIO, 48000, 2},
    };
    for (const std::string& pcm : PcmFiles()) cases.push_back({pcm, 0, KX_STREAM_AUDIO, 48000, 2});
    for (const auto& c : cases) {
        const std::string& path = c.path;
        SCOPED_TRACE(path + " stream " + std::to_string(c.index));
        const auto want = FfmpegHashes(path, c.index);
        ASSERT_FALSE(want.empty());
        StreamUnderTest s(path, c.index, c.kind);
        ASSERT_TRUE(s.ok());
        EXPECT_EQ(s.sample->GetFrameRecord(), nullptr);  // nothing before the first frame
        const auto frames = s.ReadFrames();
        ASSERT_EQ(frames.size(), want.size());
        // Sound times start at the stream's start (the reader truncates the
        // product in double precision; WAV gives none: 0).
        const AVRational tb = kxtest::ProbeTimeBase(path, c.index);
        const std::string start = kxtest::ProbeStream(path, c.index)["start_pts"];
        int64_t pts = start == "N/A" ? 0 : static_cast<int64_t>(double(tb.num) / tb.den * std::stod(start) * 1e7);
        for (size_t i = 0; i < want.size(); ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            ASSERT_EQ(frames[i].hash, want[i]);
            EXPECT_EQ(frames[i].record, frames[0].record);  // one record, refilled
            if (c.kind == KX_STREAM_VIDEO) {
                EXPECT_EQ(frames[i].duration, -1);
                EXPECT_TRUE(i == 0 || frames[i].pts > frames[i - 1].pts);
                continue;
            }
            // Whole sample frames of every channel, as many as the block lasts.
            const int32_t bytes = frames[i].width;
            EXPECT_EQ(bytes % (2 * c.channels), 0);
            EXPECT_EQ(frames[i].duration, int64_t(bytes / (2 * c.channels)) * 10'000'000 / c.sampleRate);
            EXPECT_EQ(frames[i].pts, pts);
            pts += frames[i].duration;
        }
        if (c.kind == KX_STREAM_AUDIO) {
            EXPECT_EQ(frames[0].record->audio.sampleRate, c.sampleRate);
            EXPECT_EQ(frames[0].record->audio.channels, c.channels);
        } else {
            EXPECT_EQ(frames[0].pts, 0);  // times start at the stream's start
            EXPECT_EQ(frames[25].pts, 25 * 400000);
        }
        for (size_t i = 0; path == Fixture("h264_aac.mp4") && c.kind == KX_STREAM_VIDEO && i < frames.size(); ++i)
            EXPECT_EQ(frames[i].key, i % 25 == 0) << i;  // a key picture every 25
        EXPECT_EQ(s.stream->ReadNextFrame(), 0);
        EXPECT_EQ(s.stream->ReadNextFrame(), 0);
        EXPECT_EQ(s.sample->GetFrameRecord(), frames.back().record);
        EXPECT_EQ(s.sample->GetFrameRecord()->presentationTime, frames.back().pts);
    }
}

// The description of the stream, taken from the file's media information.
TEST(StreamObject, DescribesItsStream) {
    struct Case {
        const char* file;
        int32_t index, kind;
        uint32_t tag, codec;
    };
    const Case cases[] = {
        {"h264_aac.mp4", 0, KX_STREAM_VIDEO, 65536, 28},
        {"h264_aac.mp4", 1, KX_STREAM_AUDIO, 81921, 0x15002},
        {"two_programs.ts", 2, KX_STREAM_VIDEO, (2u << 16) + 2, 28},  // the second program's number
    };
    for (const auto& c : cases) {
        StreamUnderTest s(Fixture(c.file), c.index, c.kind);
        ASSERT_TRUE(s.ok()) << c.file;
        EXPECT_EQ(s.stream->GetStreamInfo(nullptr), KX_E_POINTER);
        IStreamInfo* info = nullptr;
        ASSERT_EQ(s.stream->GetStreamInfo(&info), KX_S_OK);
        EXPECT_EQ(info->GetMediaType(), uint32_t(c.kind)) << c.file;
        EXPECT_EQ(info->GetStreamTag(), c.tag) << c.file;
        EXPECT_EQ(info->GetCodecId(), c.codec) << c.file;
        EXPECT_EQ(info->GetStreamIndex(), uint32_t(c.index)) << c.file;
        EXPECT_TRUE(c.kind == KX_STREAM_VIDEO ? info->GetVideoFormat()->frameRate == 25.0
                                              : info->GetAudioFormat()->bytesPerSecond == 192000u);
    }
}

// Requests for streams that were not selected, or not as that kind.
TEST(StreamObject, RefusedRequests) {
    kxtest::Task task;
    const int64_t id = task.Add(Fixture("h264_aac.mp4"), {{0, KX_STREAM_VIDEO}});
    ASSERT_GE(id, 0);
    auto* marker = reinterpret_cast<IMediaStreamEx*>(uintptr_t(0x1234));
    IMediaStreamEx* stream = marker;
    EXPECT_EQ(task->GetStream(id + 1, 0, KX_STREAM_VIDEO, &stream), KX_S_FALSE);
    EXPECT_EQ(stream, marker);  // an unknown file leaves the out value alone
    // Never opened; the right index as the other kind; no such stream.
    for (auto [index, kind] : {std::pair{1, KX_STREAM_AUDIO}, {0, KX_STREAM_AUDIO}, {7, KX_STREAM_VIDEO}}) {
        stream = marker;
        EXPECT_EQ(task->GetStream(id, index, kind, &stream), KX_S_FALSE) << index;
        EXPECT_EQ(stream, nullptr) << index;
    }
    EXPECT_EQ(task->GetStream(id, 0, KX_STREAM_VIDEO, nullptr), KX_E_POINTER);
}

// Seeks go to the key picture at or after the time; the stream reads on from there.
TEST(StreamObject, SeekThenRead) {
    const std::string path = Fixture("h264_aac.mp4");
    const auto want = FfmpegHashes(path, 0);
    ASSERT_EQ(want.size(), 250u);
    StreamUnderTest s(path, 0, KX_STREAM_VIDEO);
    ASSERT_TRUE(s.ok());
    ASSERT_EQ(s.ReadFrames(30).size(), 30u);
    // The result is the reader's: 1 when the first try found the key picture,
    // 0 after a restart from the start of the file (3.5 s: the key picture at
    // 4 s lies behind the target, and 80 % of 3.5 s is below 5 s).
    struct Seek {
        double seconds;
        size_t first;
        double result;
    };
    for (auto [seconds, first, result] : {Seek{3.5, 100, 0.0}, Seek{3.0, 75, 1.0}, Seek{0.0, 0, 1.0}}) {
        EXPECT_EQ(s.stream->SeekStream(seconds), result) << seconds;
        const auto frames = s.ReadFrames();
        ASSERT_EQ(frames.size(), want.size() - first) << seconds;
        EXPECT_EQ(frames[0].pts, int64_t(first) * 400000) << seconds;
        for (size_t i = 0; i < frames.size(); ++i) ASSERT_EQ(frames[i].hash, want[first + i]) << seconds << " " << i;
    }
    StreamUnderTest sound(path, 1, KX_STREAM_AUDIO);
    ASSERT_TRUE(sound.ok());
    EXPECT_EQ(sound.stream->SeekStream(4.0), 1.0);
    EXPECT_EQ(sound.ReadFrames(1).size(), 1u);
    // Times no host should pass are refused or harmless.
    EXPECT_EQ(sound.stream->SeekStream(std::nan("")), -1.0);
    EXPECT_GE(sound.stream->SeekStream(1e300), -1000000.0);
    EXPECT_GE(sound.stream->SeekStream(-1e300), 0.0);
    EXPECT_EQ(sound.ReadFrames(1).size(), 1u);
}

// The stream object has its own demuxer: it reads on after its file is
// removed and its converter released; a sample that the host still holds
// outlives the stream object without its frame.
TEST(StreamObject, OutlivesItsConverter) {
    IStreamwright* converter = kxtest::CreateConverter();
    ASSERT_NE(converter, nullptr);
    const int64_t id = converter->AddFile(kxtest::Bstr(Fixture("h264_aac.mp4")));
    ASSERT_GE(id, 0);
    ASSERT_EQ(converter->OpenStream(id, 0, KX_STREAM_VIDEO), KX_S_OK);
    IMediaStreamEx* stream = nullptr;
    ASSERT_EQ(converter->GetStream(id, 0, KX_STREAM_VIDEO, &stream), KX_S_OK);
    ASSERT_EQ(converter->RemoveFile(id), KX_S_OK);
    EXPECT_EQ(converter->Release(), 0u);

    IKXSample* sample = nullptr;
    ASSERT_EQ(QueryBySlot(stream->GetSampleObject(), &IID_IKXSample, reinterpret_cast<void**>(&sample)), KX_S_OK);
    int frames = 0;
    while (stream->ReadNextFrame() == 1) ++frames;
    EXPECT_EQ(frames, 250);
    EXPECT_NE(sample->GetFrameRecord(), nullptr);
    EXPECT_EQ(stream->Release(), 0u);
    EXPECT_EQ(sample->GetFrameRecord(), nullptr);  // the stream's record went with it
    EXPECT_EQ(sample->GetPresentationTime(), -1);
    EXPECT_EQ(sample->Release(), 0u);
}

// Pictures that change size midway get a record of their size; nothing is
// written past a record, and every picture still equals ffmpeg's.
TEST(StreamObject, PictureSizeChangeRebuildsTheRecord) {
    const std::string dir = kxtest::TempFolder("stream_resize");
    const std::string x264 = " -c:v libx264 -preset ultrafast -g 10 -bf 0 -pix_fmt yuv420p ";
    for (const char* size : {"322x242", "160x120"})
        kxtest::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::string(size) +
                           ":rate=25:duration=1" + x264 + dir + "/" + size + ".ts");
    const std::string both = dir + "/both.ts";
    kxtest::RunCommand("cd " + dir + " && cat 322x242.ts 160x120.ts 322x242.ts > both.ts");
    const auto want = FfmpegHashes(both, 0);
    ASSERT_EQ(want.size(), 75u);
    StreamUnderTest s(both, 0, KX_STREAM_VIDEO);
    ASSERT_TRUE(s.ok());
    const auto frames = s.ReadFrames();
    ASSERT_EQ(frames.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(frames[i].hash, want[i]) << i;
        const bool isSmall = i >= 25 && i < 50;
        EXPECT_EQ(frames[i].width, isSmall ? 160 : 322) << i;
        EXPECT_EQ(frames[i].height, isSmall ? 120 : 242) << i;
    }
    EXPECT_EQ(s.sample->GetCapacity(), 322 * 242 + 2 * 161 * 121);
}

// A file that is gone when the stream object is made: the object still comes,
// reads nothing and cannot seek; its description is empty.
TEST(StreamObject, FileGoneBeforeGetStream) {
    const std::string copy = kxtest::TempFolder("stream_gone") + "/gone.mp4";
    std::filesystem::copy_file(Fixture("h264_aac.mp4"), copy);
    kxtest::Task task;
    const int64_t id = task.Add(copy, {{0, KX_STREAM_VIDEO}});
    ASSERT_GE(id, 0);
    std::filesystem::remove(copy);
    IMediaStreamEx* stream = nullptr;
    kxtest::LogCapture log;
    ASSERT_EQ(task->GetStream(id, 0, KX_STREAM_VIDEO, &stream), KX_S_OK);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(log.Contains(FormatLogLine(kx::legacy::kError, u"OpenDemuxer failed")));
    EXPECT_EQ(stream->ReadNextFrame(), 0);
    EXPECT_EQ(stream->SeekStream(1.0), -1.0);
    IStreamInfo* info = nullptr;
    ASSERT_EQ(stream->GetStreamInfo(&info), KX_S_OK);
    EXPECT_EQ(info->GetStreamIndex(), 0xFFFFFFFFu);
    EXPECT_EQ(stream->Release(), 0u);
}
