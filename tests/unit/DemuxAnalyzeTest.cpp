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
    for (size_t i = 1; i < mkvLog.values.size(); ++i) {
        EXPECT_GE(mkvLog.values[i], mkvLog.values[i - 1]);
    }
    EXPECT_EQ(mkvLog.values.back(), 100);
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
    } hook{analyze, 0, {}};
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
        for (size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(packets[i].pts, want[i].pts) << file << " " << i;
        }
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
    EXPECT_EQ(early->mediaType, kx::MediaType::kVideo);
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
    EXPECT_EQ(info->mediaType, kx::MediaType::kAudio);
    analyze->FreeMediaInfo(info);
    analyze->FreeMediaInfo(nullptr);
}
