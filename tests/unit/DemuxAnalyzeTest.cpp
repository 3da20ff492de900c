#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "DemuxProbe.h"
#include "TestSupport.h"
#include "input/CTMultiDemuxer.h"
#include "input/CTSingleTDemuxer.h"
#include "input/KeyFrameIndexStore.h"

using demuxtest::OpenSingle;
using kxtest::Fixture;

namespace {

struct ProgressLog {
    std::vector<int64_t> values;
    int badCalls = 0;
    static int32_t Record(int32_t code, int64_t value, int64_t reserved, void* context) {
        auto* log = static_cast<ProgressLog*>(context);
        if (code != kx::kAnalyzeProgressCode || reserved != 0) ++log->badCalls;
        log->values.push_back(value);
        return 0;
    }
};

// ffprobe's key packets of the stream as index records.
std::vector<KeyFrameRecord> ExpectedIndex(const std::string& path, int stream, int64_t zero = 0) {
    std::vector<KeyFrameRecord> records;
    auto packets = demuxtest::ProbePacketsOnClock(path, stream, zero);
    for (size_t i = 0; i < packets.size(); ++i) {
        if (!packets[i].key) continue;
        KeyFrameRecord r{};
        r.keyFrameNumber = static_cast<int32_t>(records.size());
        r.time = packets[i].pts == kx::kNoPts ? 0 : packets[i].pts;
        r.frameNumber = static_cast<int64_t>(i);
        records.push_back(r);
    }
    return records;
}

void ExpectIndex(const kx::KeyFrameIndex* index, const std::vector<KeyFrameRecord>& want, const std::string& what,
                 size_t offset = 0) {
    ASSERT_NE(index, nullptr) << what;
    ASSERT_EQ(kx::KeyFrameCount(index), static_cast<int32_t>(offset + want.size())) << what;
    for (size_t i = 0; i < want.size(); ++i) {
        const KeyFrameRecord& got = index->entries[offset + i];
        EXPECT_EQ(got.keyFrameNumber, want[i].keyFrameNumber) << what << " #" << i;
        EXPECT_EQ(got.time, want[i].time) << what << " #" << i;
        EXPECT_EQ(got.frameNumber, want[i].frameNumber) << what << " #" << i;
    }
}

}  // namespace

// The scan finds exactly the packets that ffprobe flags as key, in every
// container, the open-GOP file included.
TEST(DemuxAnalyze, KeyFrameIndexEqualsFfprobeKeyPackets) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"h264_aac.mp4", 0}, {"h264_aac.mkv", 0},    {"h264_aac.ts", 0},     {"h264_aac.m2ts", 0},
        {"h264_bframes_opengop.mp4", 0}, {"h264_mp3.avi", 0}, {"two_programs.ts", 2}, {"video_only.mp4", 0},
        {"truncated.mp4", 0},
    };
    for (const auto& [file, stream] : cases) {
        std::string path = Fixture(file);
        auto want = ExpectedIndex(path, stream);
        ASSERT_GT(want.size(), 3u) << file;
        auto reader = OpenSingle(path, {});  // nothing selected: the scan reads its stream anyway
        ASSERT_NE(reader, nullptr) << file;
        ExpectIndex(reader->GetAnalyze()->GetKeyFrameIndex(stream), want, file);
    }
}

TEST(DemuxAnalyze, ProgressEveryFramesPerPercentThenHundred) {
    // 10 s at 25 fps: 250 frames, 2 per percent.
    auto reader = OpenSingle(Fixture("h264_aac.mp4"), {0});
    ASSERT_NE(reader, nullptr);
    ProgressLog log;
    auto* analyze = reader->GetAnalyze();
    EXPECT_EQ(analyze->SetProgressCallback(0, nullptr, &log), 0);
    EXPECT_EQ(analyze->SetProgressCallback(0, &ProgressLog::Record, &log), 1);
    ASSERT_NE(analyze->GetKeyFrameIndex(0), nullptr);
    std::vector<int64_t> want;
    for (int packet = 2; packet <= 250; packet += 2) want.push_back(static_cast<int64_t>((packet - 1) * 0.4));
    want.push_back(100);
    EXPECT_EQ(log.values, want);
    EXPECT_EQ(log.badCalls, 0);

    // Fewer than 100 frames: a report after every packet of the stream.
    auto shortReader = OpenSingle(Fixture("h264_aac_mono44k.mp4"), {});
    ASSERT_NE(shortReader, nullptr);
    ProgressLog shortLog;
    shortReader->GetAnalyze()->SetProgressCallback(0, &ProgressLog::Record, &shortLog);
    ASSERT_NE(shortReader->GetAnalyze()->GetKeyFrameIndex(0), nullptr);
    EXPECT_EQ(shortLog.values.size(), 101u);  // 4 s: 100 frames
    EXPECT_EQ(shortLog.values.back(), 100);

    // A stream whose length the container does not give (MKV) still reports
    // increasing values from the file's length.
    auto mkv = OpenSingle(Fixture("h264_aac.mkv"), {});
    ProgressLog mkvLog;
    mkv->GetAnalyze()->SetProgressCallback(0, &ProgressLog::Record, &mkvLog);
    ASSERT_NE(mkv->GetAnalyze()->GetKeyFrameIndex(0), nullptr);
    ASSERT_GT(mkvLog.values.size(), 100u);
    for (size_t i = 1; i < mkvLog.values.size(); ++i) EXPECT_GE(mkvLog.values[i], mkvLog.values[i - 1]);
    EXPECT_EQ(mkvLog.values.back(), 100);
}

TEST(DemuxAnalyze, NonVideoStreamGivesNoIndexAndNoProgress) {
    auto reader = OpenSingle(Fixture("h264_aac.mp4"), {1});
    ProgressLog log;
    reader->GetAnalyze()->SetProgressCallback(1, &ProgressLog::Record, &log);
    EXPECT_EQ(reader->GetAnalyze()->GetKeyFrameIndex(1), nullptr);
    EXPECT_EQ(reader->GetAnalyze()->GetKeyFrameIndex(7), nullptr);
    EXPECT_TRUE(log.values.empty());
}

// Scans append to the same index; a cancelled scan empties it.
TEST(DemuxAnalyze, SecondScanAppendsAndCancelFromAnotherThreadEmpties) {
    std::string path = Fixture("h264_aac.mp4");
    auto want = ExpectedIndex(path, 0, demuxtest::ClockZero(path, {0}));
    auto reader = OpenSingle(path, {0});
    auto* analyze = static_cast<kx::CTSingleAnalyze*>(reader->GetAnalyze());
    ExpectIndex(analyze->GetKeyFrameIndex(0), want, "first");
    ExpectIndex(analyze->GetKeyFrameIndex(0), want, "second", want.size());

    // At the tenth report another thread cancels; the scan sees it before
    // its next packet.
    struct CancelOnReport {
        kx::ITAnalyze* analyze;
        int reports = 0;
        std::vector<int64_t> values;
        static int32_t Hook(int32_t, int64_t value, int64_t, void* context) {
            auto* self = static_cast<CancelOnReport*>(context);
            self->values.push_back(value);
            if (++self->reports == 10) std::thread([self] { self->analyze->Cancel(0); }).join();
            return 0;
        }
    } hook{analyze};
    analyze->SetProgressCallback(0, &CancelOnReport::Hook, &hook);
    EXPECT_EQ(analyze->GetKeyFrameIndex(0), nullptr);
    EXPECT_EQ(hook.values.size(), 11u);
    EXPECT_EQ(hook.values.back(), 100);  // the end is reported after a cancel too
    EXPECT_EQ(kx::KeyFrameCount(analyze->Index()), 0);
    EXPECT_EQ(analyze->Index()->lastSlot, 255);

    // The next scan starts clean and the file was rewound for the reader.
    ExpectIndex(analyze->GetKeyFrameIndex(0), want, "after cancel");
    auto packets = demuxtest::ReadAll(reader->GetControl());
    EXPECT_EQ(packets.size(), 250u);
}

// After a scan the video reader starts again from the first packet.
TEST(DemuxAnalyze, ScanRewindsTheFile) {
    for (const char* file : {"h264_aac.ts", "h264_aac.mkv", "h264_mp3.avi", "h264_bframes_opengop.mp4"}) {
        std::string path = Fixture(file);
        auto reader = OpenSingle(path, {0});
        auto* control = reader->GetControl();
        EXPECT_EQ(demuxtest::ReadAll(control, 10).size(), 10u);  // somewhere in the middle
        ASSERT_NE(reader->GetAnalyze()->GetKeyFrameIndex(0), nullptr);
        auto packets = demuxtest::ReadAll(control);
        auto want = demuxtest::ProbePacketsOnClock(path, 0, demuxtest::ClockZero(path, {0}));
        ASSERT_EQ(packets.size(), want.size()) << file;
        for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(packets[i].pts, want[i].pts) << file << " " << i;
    }
}

TEST(DemuxAnalyze, MultiReaderForwardsToTheStreamsReader) {
    std::string path = Fixture("h264_aac.ts");
    std::unique_ptr<kx::ITDemuxer> demuxer(CreateMultiDemuxer());
    ASSERT_EQ(demuxer->Initialize(), 0);
    ASSERT_EQ(demuxer->Open(kxtest::Wide(path).c_str(), 0), 0);
    ASSERT_EQ(demuxer->AddStream(0), 0);
    ASSERT_EQ(demuxer->AddStream(1), 0);
    auto* analyze = demuxer->GetAnalyze();
    ASSERT_NE(analyze, nullptr);
    EXPECT_EQ(analyze->IsReady(), 1);
    // The converter asks for descriptions before it starts the readers.
    kx::StreamMediaInfo* early = analyze->GetMediaInfo(0);
    ASSERT_NE(early, nullptr);
    EXPECT_EQ(early->mediaType, kx::kMediaVideo);
    analyze->FreeMediaInfo(early);
    ASSERT_EQ(demuxer->StartDemuxer(), 0);
    EXPECT_EQ(demuxer->StartDemuxer(), -1);
    ProgressLog log;
    EXPECT_EQ(analyze->SetProgressCallback(3, &ProgressLog::Record, &log), 0);  // no reader
    EXPECT_EQ(analyze->SetProgressCallback(0, &ProgressLog::Record, &log), 1);
    ExpectIndex(analyze->GetKeyFrameIndex(0), ExpectedIndex(path, 0, demuxtest::ClockZero(path, {0, 1})), "multi ts");
    EXPECT_EQ(log.values.back(), 100);
    EXPECT_EQ(analyze->GetKeyFrameIndex(1), nullptr);
    EXPECT_EQ(analyze->GetKeyFrameIndex(2), nullptr);
    EXPECT_EQ(analyze->GetMediaInfo(2), nullptr);
    analyze->Cancel(5);  // no reader: nothing happens
    kx::StreamMediaInfo* info = analyze->GetMediaInfo(1);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->mediaType, kx::kMediaAudio);
    analyze->FreeMediaInfo(info);
    analyze->FreeMediaInfo(nullptr);
}

TEST(DemuxAnalyze, IndexGrowsBy256AndKeepsRecords) {
    kx::KeyFrameIndex* index = kx::CreateKeyFrameIndex();
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(index->lastSlot, 255);
    EXPECT_EQ(index->lastIndex, -1);
    EXPECT_EQ(index->entries[0].keyFrameNumber, -1);
    EXPECT_EQ(index->entries[255].time, -1);
    for (int i = 0; i < 257; ++i) {
        ASSERT_TRUE(kx::AppendKeyFrame(index, KeyFrameRecord{i, 0, i * 1000LL, i * 25LL}));
        EXPECT_EQ(index->lastSlot, i < 256 ? 255 : 511);
    }
    EXPECT_EQ(kx::KeyFrameCount(index), 257);
    for (int i = 0; i < 257; ++i) {
        EXPECT_EQ(index->entries[i].keyFrameNumber, i);
        EXPECT_EQ(index->entries[i].time, i * 1000LL);
        EXPECT_EQ(index->entries[i].frameNumber, i * 25LL);
    }
    kx::ResetKeyFrameIndex(index);
    EXPECT_EQ(kx::KeyFrameCount(index), 0);
    EXPECT_EQ(index->lastSlot, 255);
    kx::FreeKeyFrameIndex(index);
}

TEST(DemuxAnalyze, VideoMediaInfoMatchesFfprobe) {
    std::string path = Fixture("h264_aac.mp4");
    auto reader = OpenSingle(path, {0});
    auto* analyze = reader->GetAnalyze();
    kx::StreamMediaInfo* v = analyze->GetMediaInfo(0);
    ASSERT_NE(v, nullptr);
    auto probe = demuxtest::ProbeStream(path, 0);
    EXPECT_EQ(v->mediaType, kx::kMediaVideo);
    EXPECT_EQ(v->streamIndex, 0);
    EXPECT_EQ(v->codecId, 28);
    EXPECT_EQ(v->video.width, 320);
    EXPECT_EQ(v->video.height, 240);
    EXPECT_EQ(v->video.streamTimeBase[0], 1);
    EXPECT_EQ(v->video.streamTimeBase[1], 12800);
    EXPECT_EQ(v->video.frameRate[0], 25);
    EXPECT_EQ(v->video.frameRate[1], 1);
    EXPECT_EQ(v->video.ticksPerFrame, 2);
    EXPECT_EQ(v->video.codecTimeBase[0], 1);
    EXPECT_EQ(v->video.codecTimeBase[1], 50);
    EXPECT_EQ(v->video.pixelFormat, 0);  // yuv420p
    EXPECT_EQ(std::to_string(v->video.level), probe["level"]);
    EXPECT_EQ(v->video.profile, 100);  // High
    EXPECT_EQ(std::to_string(v->video.extradataSize), probe["extradata_size"]);
    ASSERT_NE(v->video.extradata, nullptr);
    EXPECT_EQ(v->video.extradata[0], 1);  // avcC version
    EXPECT_EQ(std::to_string(v->video.bitRate), probe["bit_rate"]);
    EXPECT_EQ(v->video.displayWidth, 320);  // 1:1 pixels
    EXPECT_EQ(v->video.displayHeight, 240);
    for (int m : v->video.displayMatrix) EXPECT_EQ(m, 0);
    EXPECT_EQ(v->video.startTime, 0);
    analyze->FreeMediaInfo(v);

    auto ts = OpenSingle(Fixture("h264_aac.ts"), {});
    kx::StreamMediaInfo* tv = ts->GetAnalyze()->GetMediaInfo(0);
    ASSERT_NE(tv, nullptr);
    EXPECT_EQ(tv->video.startTime, 14213333);  // 127920 / 90 kHz
    ts->GetAnalyze()->FreeMediaInfo(tv);
}

TEST(DemuxAnalyze, DisplayMatrixOfARotatedStream) {
    auto reader = OpenSingle(Fixture("rotated90.mp4"), {});
    kx::StreamMediaInfo* v = reader->GetAnalyze()->GetMediaInfo(0);
    ASSERT_NE(v, nullptr);
    // [0][0] [0][1] [1][0] [1][1] [2][0] [2][1] of a 90 degree turn, 16.16 fixed point.
    const int32_t want[6] = {0, -65536, 65536, 0, 0, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(v->video.displayMatrix[i], want[i]) << i;
    reader->GetAnalyze()->FreeMediaInfo(v);
}

TEST(DemuxAnalyze, AudioMediaInfoMatchesFfprobe) {
    for (const char* file : {"h264_aac.mp4", "h264_aac_mono44k.mp4", "h264_mp3.avi", "mpeg1.mpg"}) {
        std::string path = Fixture(file);
        auto reader = OpenSingle(path, {});
        auto* analyze = reader->GetAnalyze();
        kx::StreamMediaInfo* a = analyze->GetMediaInfo(1);
        ASSERT_NE(a, nullptr) << file;
        auto probe = demuxtest::ProbeStream(path, 1);
        EXPECT_EQ(a->mediaType, kx::kMediaAudio);
        EXPECT_EQ(a->streamIndex, 1);
        EXPECT_EQ(std::to_string(a->audio.sampleRate), probe["sample_rate"]) << file;
        EXPECT_EQ(std::to_string(a->audio.channels), probe["channels"]) << file;
        EXPECT_EQ(a->audio.codecTimeBase[0], 1) << file;
        EXPECT_EQ(std::to_string(a->audio.codecTimeBase[1]), probe["sample_rate"]) << file;
        std::string extradataSize = probe.count("extradata_size") ? probe["extradata_size"] : "0";
        EXPECT_EQ(std::to_string(a->audio.extradataSize), extradataSize) << file;
        EXPECT_EQ(a->audio.channelLayout, a->audio.channels == 2 ? 3u : 4u) << file;  // stereo / mono masks
        EXPECT_EQ(a->audio.codecCapabilities != 0, true) << file;
        analyze->FreeMediaInfo(a);
    }
    auto reader = OpenSingle(Fixture("h264_aac.mp4"), {});
    kx::StreamMediaInfo* a = reader->GetAnalyze()->GetMediaInfo(1);
    EXPECT_EQ(a->codecId, 0x15002);
    EXPECT_EQ(a->audio.sampleFormat, 8);  // fltp
    EXPECT_EQ(a->audio.frameSize, 1024);
    reader->GetAnalyze()->FreeMediaInfo(a);
    EXPECT_EQ(reader->GetAnalyze()->GetMediaInfo(2), nullptr);
    EXPECT_EQ(reader->GetAnalyze()->GetMediaInfo(-1), nullptr);
}
