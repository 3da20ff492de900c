// The decoding stream object (GetStream, IMediaStreamEx) against ffmpeg's
// own decoding: pictures by MD5 of their Y, U and V planes, sound by bytes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
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

std::string Md5(const std::vector<uint8_t>& bytes) {
    uint8_t digest[16];
    av_md5_sum(digest, bytes.data(), bytes.size());
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

// ffmpeg's pictures as planar 4:2:0 (Y, then U, then V), each at its own size.
std::vector<std::string> PictureHashes(const std::string& path) {
    return kxtest::FrameHashes(path, "-autoscale 0 -pix_fmt yuv420p");
}

// ffmpeg's decoded sound of the first audio stream as raw samples.
std::vector<uint8_t> FfmpegPcm(const std::string& path, const std::string& format) {
    std::string out = kxtest::RunCommand("ffmpeg -nostdin -v error -i " + kxtest::Quote(path) + " -map 0:a:0 -f " +
                                         format + " -acodec pcm_" + format + " -");
    return std::vector<uint8_t>(out.begin(), out.end());
}

// The picture of a planar record: Y, then U, then V, row by row.
std::vector<uint8_t> PictureBytes(const MediaFrameRecord& record) {
    const MediaFramePlanar& p = record.video.planar;
    size_t luma = size_t(p.yRowLength) * p.height, chroma = size_t(p.uRowLength) * (p.height / 2);
    std::vector<uint8_t> bytes(p.y, p.y + luma);
    bytes.insert(bytes.end(), p.u, p.u + chroma);
    bytes.insert(bytes.end(), p.v, p.v + chroma);
    return bytes;
}

// The sample object is handed out as its own (non-delegating) unknown; a host
// calls its QueryInterface by slot number, as a C host does.
HRESULT QueryBySlot(IUnknown* unknown, REFIID riid, void** out) {
    using QueryFn = HRESULT (*)(void*, REFIID, void**);
    void** table = *reinterpret_cast<void***>(unknown);
    return reinterpret_cast<QueryFn>(table[0])(unknown, riid, out);
}

struct Frame {
    int64_t pts, dts, duration;
    int32_t width, height;
    std::string hash;
    const MediaFrameRecord* record;
    bool key;
};

// A converter with one file and one decoding stream object of it.
struct StreamUnderTest {
    StreamUnderTest(const std::string& path, int32_t index, int32_t kind) {
        id = task.Add(path, {{index, kind}});
        if (id < 0 || task->GetStream(id, index, kind, &stream) != KX_S_OK || !stream) return;
        IUnknown* unknown = stream->GetSampleObject();
        if (unknown) QueryBySlot(unknown, &IID_IKXSample, reinterpret_cast<void**>(&sample));
    }
    ~StreamUnderTest() {
        if (sample) sample->Release();
        if (stream) stream->Release();
    }
    bool ok() const { return stream && sample; }

    std::vector<Frame> ReadPictures(size_t limit = 100000) {
        std::vector<Frame> frames;
        while (frames.size() < limit && stream->ReadNextFrame() == 1) {
            const MediaFrameRecord* r = sample->GetFrameRecord();
            EXPECT_NE(r, nullptr);
            if (!r) break;
            EXPECT_EQ(r->mediaType, KX_SAMPLE_VIDEO);
            EXPECT_EQ(r->subtype, 1);
            EXPECT_EQ(r->video.format, KX_FRAME_PLANAR);
            EXPECT_EQ(r->video.planar.layout, 2);
            EXPECT_EQ(r->video.planar.yRowLength, r->video.planar.width);
            EXPECT_EQ(r->video.planar.uRowLength, (r->video.planar.width + 1) / 2);
            EXPECT_EQ(sample->GetPresentationTime(), r->presentationTime);
            EXPECT_EQ(sample->GetDecodeTime(), r->decodeTime);
            frames.push_back({r->presentationTime, r->decodeTime, r->duration, r->video.planar.width,
                              r->video.planar.height, Md5(PictureBytes(*r)), r, r->video.keyFrame != 0});
            EXPECT_EQ(sample->IsSyncPoint(), r->video.keyFrame);
        }
        return frames;
    }

    kxtest::Task task;
    int64_t id = -1;
    IMediaStreamEx* stream = nullptr;
    IKXSample* sample = nullptr;
};

}  // namespace

// Every picture equals ffmpeg's, in count, order and all three planes; the
// times are the decoder's, and at the end the last picture stays.
TEST(StreamObject, PicturesEqualFfmpegFrames) {
    for (const char* name : {"h264_aac.mp4", "h264_bframes_opengop.mp4", "h264_aac.ts", "mpeg1.mpg"}) {
        std::string path = Fixture(name);
        auto want = PictureHashes(path);
        ASSERT_GT(want.size(), 100u) << name;
        StreamUnderTest s(path, 0, KX_STREAM_VIDEO);
        ASSERT_TRUE(s.ok()) << name;
        EXPECT_EQ(s.sample->GetMediaType(), KX_SAMPLE_VIDEO);
        EXPECT_EQ(s.sample->GetSubType(), 1);
        EXPECT_EQ(s.sample->GetFrameRecord(), nullptr);  // nothing before the first frame
        auto frames = s.ReadPictures();
        ASSERT_EQ(frames.size(), want.size()) << name;
        for (size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(frames[i].hash, want[i]) << name << " picture " << i;
            EXPECT_EQ(frames[i].width, 320);
            EXPECT_EQ(frames[i].height, 240);
            EXPECT_EQ(frames[i].dts, frames[i].pts);
            EXPECT_EQ(frames[i].duration, -1);
            if (i > 0) {
                EXPECT_GT(frames[i].pts, frames[i - 1].pts) << name << " picture " << i;
            }
            EXPECT_EQ(frames[i].record, frames[0].record);  // one record, refilled
        }
        if (std::string(name) == "h264_aac.mp4")  // a key picture every 25
            for (size_t i = 0; i < frames.size(); ++i) {
                EXPECT_EQ(frames[i].key, i % 25 == 0) << i;
            }
        EXPECT_EQ(frames[0].pts, 0) << name;  // times start at the stream's start
        EXPECT_EQ(frames[25].pts, 25 * 400000) << name;

        // At the end: 0, and the last picture stays in the sample.
        EXPECT_EQ(s.stream->ReadNextFrame(), 0);
        EXPECT_EQ(s.stream->ReadNextFrame(), 0);
        const MediaFrameRecord* last = s.sample->GetFrameRecord();
        ASSERT_EQ(last, frames.back().record);
        EXPECT_EQ(Md5(PictureBytes(*last)), want.back());
        EXPECT_EQ(last->presentationTime, frames.back().pts);
    }
}

// Every decoded block reaches the host as interleaved signed 16-bit PCM of
// all its channels, whatever the decoder's own sample format (planar float
// for AAC and MP3, planar 16-bit for MP2): the whole stream, block after
// block, equals ffmpeg's s16le decoding of it byte for byte. Both start at
// the same sample: the AAC priming samples that the MP4 edit list skips are
// dropped by the decoder itself, and the other streams start at their first
// decoded sample in both.
TEST(StreamObject, SoundEqualsFfmpegDecoding) {
    struct Case {
        const char* name;
        int32_t streamIndex;
        int sampleRate, channels;
    };
    const Case cases[] = {
        {"h264_aac.mp4", 1, 48000, 2},          // AAC, planar float stereo
        {"audio_only.m4a", 0, 48000, 2},        // AAC, the only stream
        {"h264_aac_mono44k.mp4", 1, 44100, 1},  // AAC, one channel at 44.1 kHz
        {"mpeg1.mpg", 1, 48000, 1},             // MPEG audio layer 2, planar 16-bit
        {"h264_mp3.avi", 1, 48000, 2},          // MPEG audio layer 3, planar float stereo
    };
    for (const auto& c : cases) {
        std::string path = Fixture(c.name);
        std::vector<uint8_t> want = FfmpegPcm(path, "s16le");
        ASSERT_GT(want.size(), 100000u) << c.name;
        StreamUnderTest s(path, c.streamIndex, KX_STREAM_AUDIO);
        ASSERT_TRUE(s.ok()) << c.name;
        EXPECT_EQ(s.sample->GetMediaType(), KX_SAMPLE_AUDIO);
        std::vector<uint8_t> got;
        // Sound times run on a clock that starts at the stream's start (the
        // reader truncates the product in double precision).
        AVRational tb = kxtest::ProbeTimeBase(path, c.streamIndex);
        int64_t expectedPts = static_cast<int64_t>(
            double(tb.num) / tb.den * std::stod(kxtest::ProbeStream(path, c.streamIndex)["start_pts"]) * 1e7);
        int blocks = 0;
        const MediaFrameRecord* first = nullptr;
        while (s.stream->ReadNextFrame() == 1) {
            const MediaFrameRecord* r = s.sample->GetFrameRecord();
            ASSERT_NE(r, nullptr);
            if (!first) first = r;
            ASSERT_EQ(r, first);
            EXPECT_EQ(r->mediaType, KX_SAMPLE_AUDIO);
            EXPECT_EQ(r->subtype, 1);
            EXPECT_EQ(r->audio.sampleRate, c.sampleRate);
            EXPECT_EQ(r->audio.channels, c.channels);
            EXPECT_EQ(r->audio.bitsPerSample, 16);
            EXPECT_GE(r->audio.capacity, r->audio.bytesHeld);
            EXPECT_EQ(s.sample->GetCapacity(), r->audio.capacity);
            EXPECT_EQ(r->presentationTime, expectedPts) << c.name << " block " << blocks;
            EXPECT_EQ(r->decodeTime, r->presentationTime);
            EXPECT_GT(r->duration, 0);
            EXPECT_EQ(s.sample->GetDuration(), r->duration);
            // Whole sample frames of every channel, as many as the block lasts.
            const int frameBytes = 2 * c.channels;
            ASSERT_EQ(r->audio.bytesHeld % frameBytes, 0) << c.name << " block " << blocks;
            EXPECT_EQ(r->duration, int64_t(r->audio.bytesHeld / frameBytes) * 10'000'000 / c.sampleRate)
                << c.name << " block " << blocks;
            expectedPts += r->duration;
            got.insert(got.end(), r->audio.buffer, r->audio.buffer + r->audio.bytesHeld);
            ++blocks;
        }
        EXPECT_GT(blocks, 10) << c.name;
        ASSERT_EQ(got.size(), want.size()) << c.name;
        EXPECT_TRUE(got == want) << c.name;
        EXPECT_EQ(s.stream->ReadNextFrame(), 0);
        EXPECT_EQ(s.sample->GetFrameRecord(), first);
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
        {"h264_aac.mp4", 0, 1, 65536, 28},
        {"h264_aac.mp4", 1, 2, 81921, 0x15002},
        {"two_programs.ts", 2, 1, (2u << 16) + 2, 28},  // the second program's number
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
        if (c.kind == 1) {
            EXPECT_EQ(info->GetVideoFormat()->width, 320u);
            EXPECT_DOUBLE_EQ(info->GetVideoFormat()->frameRate, 25.0);
        } else {
            EXPECT_EQ(info->GetAudioFormat()->sampleRate, 48000u);
            EXPECT_EQ(info->GetAudioFormat()->bytesPerSecond, 192000u);
        }
        EXPECT_EQ(s.stream->GetCurrentSample(), s.stream->GetSampleObject());
    }
}

// Requests for streams that were not selected, or not as that kind.
TEST(StreamObject, RefusedRequests) {
    kxtest::Task task;
    int64_t id = task.Add(Fixture("h264_aac.mp4"), {{0, KX_STREAM_VIDEO}});
    ASSERT_GE(id, 0);
    auto* marker = reinterpret_cast<IMediaStreamEx*>(uintptr_t(0x1234));
    IMediaStreamEx* stream = marker;
    EXPECT_EQ(task->GetStream(id + 1, 0, KX_STREAM_VIDEO, &stream), KX_S_FALSE);
    EXPECT_EQ(stream, marker);  // an unknown file leaves the out value alone
    EXPECT_EQ(task->GetStream(id, 1, KX_STREAM_AUDIO, &stream), KX_S_FALSE);  // never opened
    EXPECT_EQ(stream, nullptr);
    stream = marker;
    EXPECT_EQ(task->GetStream(id, 0, KX_STREAM_AUDIO, &stream), KX_S_FALSE);  // right index, other kind
    EXPECT_EQ(stream, nullptr);
    stream = marker;
    EXPECT_EQ(task->GetStream(id, 7, KX_STREAM_VIDEO, &stream), KX_S_FALSE);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(task->GetStream(id, 0, KX_STREAM_VIDEO, nullptr), KX_E_POINTER);
    ASSERT_EQ(task->GetStream(id, 0, KX_STREAM_VIDEO, &stream), KX_S_OK);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Release(), 0u);
}

// Seeks go to the key picture at or after the time; the stream reads on from there.
TEST(StreamObject, SeekThenRead) {
    std::string path = Fixture("h264_aac.mp4");
    auto want = PictureHashes(path);
    ASSERT_EQ(want.size(), 250u);
    StreamUnderTest s(path, 0, KX_STREAM_VIDEO);
    ASSERT_TRUE(s.ok());
    ASSERT_EQ(s.ReadPictures(30).size(), 30u);
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
        auto frames = s.ReadPictures();
        ASSERT_EQ(frames.size(), want.size() - first) << seconds;
        EXPECT_EQ(frames[0].pts, int64_t(first) * 400000) << seconds;
        for (size_t i = 0; i < frames.size(); ++i) {
            ASSERT_EQ(frames[i].hash, want[first + i]) << seconds << " " << i;
        }
    }
    StreamUnderTest sound(path, 1, KX_STREAM_AUDIO);
    ASSERT_TRUE(sound.ok());
    EXPECT_EQ(sound.stream->SeekStream(4.0), 1.0);
    EXPECT_EQ(sound.stream->ReadNextFrame(), 1);
    EXPECT_GT(sound.sample->GetFrameRecord()->audio.bytesHeld, 0);
}

// The stream object has its own demuxer: it reads on after its file is
// removed and its converter released; a sample that the host still holds
// outlives the stream object without its frame.
TEST(StreamObject, OutlivesItsConverter) {
    IStreamwright* converter = kxtest::CreateConverter();
    ASSERT_NE(converter, nullptr);
    kxtest::Bstr name(Fixture("h264_aac.mp4"));
    int64_t id = converter->AddFile(name);
    ASSERT_GE(id, 0);
    ASSERT_EQ(converter->OpenStream(id, 0, KX_STREAM_VIDEO), KX_S_OK);
    IMediaStreamEx* stream = nullptr;
    ASSERT_EQ(converter->GetStream(id, 0, KX_STREAM_VIDEO, &stream), KX_S_OK);
    ASSERT_EQ(converter->RemoveFile(id), KX_S_OK);
    EXPECT_EQ(converter->Release(), 0u);

    IKXSample* sample = nullptr;
    ASSERT_EQ(QueryBySlot(stream->GetSampleObject(), &IID_IKXSample, reinterpret_cast<void**>(&sample)), KX_S_OK);
    IUnknown* identity = nullptr;
    ASSERT_EQ(sample->QueryInterface(&IID_IUnknown, reinterpret_cast<void**>(&identity)), KX_S_OK);
    EXPECT_EQ(identity, stream->GetSampleObject());  // the sample's own identity
    sample->Release();
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
    namespace fs = std::filesystem;
    fs::path dir = fs::path(kxtest::TempFolder("stream_resize"));
    std::string small = (dir / "small.ts").string(), large = (dir / "large.ts").string(), both = (dir / "both.ts").string();
    const std::string x264 = " -c:v libx264 -preset ultrafast -g 10 -bf 0 -pix_fmt yuv420p ";
    kxtest::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=322x242:rate=25:duration=1" + x264 + large);
    kxtest::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=160x120:rate=25:duration=1" + x264 + small);
    kxtest::RunCommand("cat " + large + " " + small + " " + large + " > " + both);
    auto want = PictureHashes(both);
    ASSERT_EQ(want.size(), 75u);
    StreamUnderTest s(both, 0, KX_STREAM_VIDEO);
    ASSERT_TRUE(s.ok());
    auto frames = s.ReadPictures();
    ASSERT_EQ(frames.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(frames[i].hash, want[i]) << i;
        bool isSmall = i >= 25 && i < 50;
        EXPECT_EQ(frames[i].width, isSmall ? 160 : 322) << i;
        EXPECT_EQ(frames[i].height, isSmall ? 120 : 242) << i;
    }
    EXPECT_EQ(s.sample->GetCapacity(), 322 * 242 + 2 * 161 * 121);
    fs::remove_all(dir);
}

// A file that is gone when the stream object is made: the object still comes,
// reads nothing and cannot seek; its description is empty.
TEST(StreamObject, FileGoneBeforeGetStream) {
    namespace fs = std::filesystem;
    fs::path dir = fs::path(kxtest::TempFolder("stream_gone"));
    fs::path copy = dir / "gone.mp4";
    fs::copy_file(Fixture("h264_aac.mp4"), copy);
    kxtest::Task task;
    int64_t id = task.Add(copy.string(), {{0, KX_STREAM_VIDEO}});
    ASSERT_GE(id, 0);
    fs::remove(copy);
    IMediaStreamEx* stream = nullptr;
    kxtest::LogCapture log;
    ASSERT_EQ(task->GetStream(id, 0, KX_STREAM_VIDEO, &stream), KX_S_OK);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(log.Contains(FormatLogLine(kx::legacy::kError, u"OpenDemuxer failed")));
    EXPECT_EQ(stream->ReadNextFrame(), 0);
    EXPECT_EQ(stream->SeekStream(1.0), -1.0);
    IStreamInfo* info = nullptr;
    ASSERT_EQ(stream->GetStreamInfo(&info), KX_S_OK);
    EXPECT_EQ(info->GetMediaType(), 0u);
    EXPECT_EQ(info->GetStreamIndex(), 0xFFFFFFFFu);
    IKXSample* sample = nullptr;
    ASSERT_EQ(QueryBySlot(stream->GetSampleObject(), &IID_IKXSample, reinterpret_cast<void**>(&sample)), KX_S_OK);
    EXPECT_EQ(sample->GetFrameRecord(), nullptr);
    sample->Release();
    EXPECT_EQ(stream->Release(), 0u);
    fs::remove_all(dir);
}
