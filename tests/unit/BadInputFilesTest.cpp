// Inputs that are not what they should be, through IStreamwright: missing,
// a folder, empty, garbage, cut short at several points, without timestamps.
// Every case ends in time with a status and a log line, and never crashes.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

const std::u16string kOpenFailed = FormatLogLine(kx::legacy::kError, u"OpenDemuxer failed");

// A file that AddFile must refuse: -1 and the open failure logged.
void ExpectRefused(const std::string& path) {
    LogCapture log;
    GuardedConverter converter;
    EXPECT_EQ(converter.AddFile(path), -1) << path;
    EXPECT_TRUE(log.Contains(kOpenFailed)) << path;
    EXPECT_FALSE(converter.hung());
}

// What a host does with a file it could add: open its first two streams, scan
// the key frames, split one clip into `folder`. What the steps answered:
struct SplitOutcome {
    int64_t fileId = -1;
    HRESULT prepared = KX_E_FAIL;
    bool ran = false;
    std::vector<int32_t> codes;
    std::vector<std::u16string> log;
    bool hung = false;
};

SplitOutcome TrySplit(const std::string& input, const std::string& folder, ClipRange clip, bool sizeClip = false,
                      const char16_t* extension = nullptr) {
    SplitOutcome outcome;
    LogCapture log;
    {
        GuardedConverter converter;
        outcome.fileId = converter.AddFileWithStreams(input, {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}});
        if (outcome.fileId >= 0) {
            converter.KeyFrameIndex(outcome.fileId);
            sizeClip ? converter->AddSizeClip(outcome.fileId, &clip) : converter->AddTimeClip(outcome.fileId, &clip);
            converter.SetOutputPath(folder);
            if (extension) converter->SetOutputExtension(Bstr(extension));
            outcome.prepared = converter.Prepare(outcome.fileId);
            if (outcome.prepared == KX_S_OK) outcome.ran = converter.RunToEnd();
            outcome.codes = converter.notifications().Codes();
        }
        converter.Release();
        outcome.hung = converter.hung();
    }
    outcome.log = log.Lines();
    return outcome;
}

}  // namespace

TEST(BadInputFiles, WhatIsNoMediaFileIsRefused) {
    const std::string folder = TempFolder("bad_inputs");
    std::filesystem::create_directories(folder + "/looks_like.mp4");
    WriteBytes(folder + "/empty.mp4", "");
    std::filesystem::copy_file(Fixture("garbage.bin"), folder + "/garbage.ts");  // under a media file's name
    for (const std::string& path : {folder + "/no_such_file.mp4", folder + "/looks_like.mp4", folder + "/empty.mp4",
                                    Fixture("garbage.bin"), folder + "/garbage.ts"})
        ExpectRefused(path);
}

TEST(BadInputFiles, OverlongPathsAndUnknownStreamsAreRefused) {
    LogCapture log;
    GuardedConverter converter;
    const std::string longPath = "/tmp/" + std::string(2100, 'x') + ".mp4";
    EXPECT_EQ(converter.AddFile(longPath), -1);
    EXPECT_TRUE(log.Contains(kx::legacy::kPathTooLong));
    EXPECT_TRUE(log.Contains(kOpenFailed));
    // Unknown files and streams: "not found", no crash.
    EXPECT_EQ(converter->OpenStream(123456, 0, KX_STREAM_VIDEO), KX_S_FALSE);
    EXPECT_EQ(converter->OpenStream(converter.AddFile(Fixture("h264_aac.mp4")), 7, KX_STREAM_VIDEO), KX_S_FALSE);
}

// A fixture cut to a fraction of its size (or a byte count): refused, or read
// as far as it goes; every step ends in time. An MP4 cut at 10, 50 and 99 %
// is InputEnd's (CutMp4), through the same whole split.
struct Cut {
    const char* fixture;
    const char* name;  // also the test name
    double fraction;   // of the file's size; 0: use bytes
    int64_t bytes;     // negative: that many bytes short of the end
};

class BadInputTruncated : public ::testing::TestWithParam<Cut> {};

TEST_P(BadInputTruncated, IsRefusedOrReadAsFarAsItGoes) {
    const Cut cut = GetParam();
    std::string source = Fixture(cut.fixture);
    const std::string folder = TempFolder(std::string("bad_cut_") + cut.name);
    if (std::string(cut.fixture) == "index_at_end.mp4") {
        // The same media with its index after the data, as most recorders write it.
        source = folder + "/index_at_end_source.mp4";
        RunCommand("ffmpeg -nostdin -v error -y -i " + Quote(Fixture("h264_aac.mp4")) + " -c copy " + Quote(source));
    }
    const uint64_t full = std::filesystem::file_size(source);
    uint64_t size = cut.fraction > 0 ? static_cast<uint64_t>(full * cut.fraction)
                                     : static_cast<uint64_t>(cut.bytes >= 0 ? cut.bytes : int64_t(full) + cut.bytes);
    const std::string extension = std::filesystem::path(source).extension().string();
    const std::string input = folder + "/" + cut.name + "_" + std::to_string(size) + extension;
    CopyHead(source, input, size);
    ASSERT_EQ(std::filesystem::file_size(input), size);

    const std::string out = folder + "/out";
    std::filesystem::create_directories(out);
    SplitOutcome outcome = TrySplit(input, out, ClipRange{0, 4 * kSecond, 0});
    EXPECT_FALSE(outcome.hung);
    EXPECT_FALSE(outcome.log.empty()) << "every outcome leaves a log line";
    if (outcome.fileId < 0) {
        EXPECT_NE(std::find(outcome.log.begin(), outcome.log.end(), kOpenFailed), outcome.log.end());
        return;
    }
    if (!outcome.ran) {
        EXPECT_NE(outcome.prepared, KX_S_OK);
        EXPECT_TRUE(FilesUnder(out).empty()) << "a refused set-up leaves no output behind";
        return;
    }
    ASSERT_FALSE(outcome.codes.empty());
    EXPECT_EQ(outcome.codes.front(), KX_NOTIFY_TASK_BEGIN);
    EXPECT_EQ(outcome.codes.back(), KX_NOTIFY_TASK_END);
    // What was copied starts where a decoder can start.
    for (const std::string& clip : FilesUnder(out)) {
        const auto video = ProbeTicks(clip, 0);
        EXPECT_TRUE(video.empty() || video.front().key) << clip;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, BadInputTruncated,
    ::testing::Values(Cut{"h264_aac.mp4", "mp4_16_bytes", 0, 16}, Cut{"h264_aac.mp4", "mp4_1k", 0, 1024},
                      Cut{"h264_aac.mp4", "mp4_one_short", 0, -1},
                      Cut{"index_at_end.mp4", "mp4_index_at_end_50pc", 0.50, 0},
                      Cut{"index_at_end.mp4", "mp4_index_at_end_one_short", 0, -1},
                      Cut{"h264_aac.ts", "ts_one_packet", 0, 188}, Cut{"h264_aac.ts", "ts_10pc", 0.10, 0},
                      Cut{"h264_aac.ts", "ts_50pc", 0.50, 0}, Cut{"h264_aac.ts", "ts_mid_packet", 0, -100},
                      Cut{"h264_aac.mkv", "mkv_100_bytes", 0, 100}, Cut{"h264_aac.mkv", "mkv_4k", 0, 4096},
                      Cut{"h264_aac.mkv", "mkv_50pc", 0.50, 0}, Cut{"h264_aac.mkv", "mkv_one_short", 0, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BadInputFiles, StreamsWithoutTimestamps) {
    // A raw H.264 elementary stream: no container, so no timestamps.
    const std::string folder = TempFolder("bad_raw_h264");
    const std::string raw = folder + "/raw.h264";
    RunCommand("ffmpeg -nostdin -v error -y -i " + Quote(Fixture("h264_aac.mp4")) +
               " -map 0:v -c copy -bsf:v h264_mp4toannexb -f h264 " + Quote(raw));
    ASSERT_GT(std::filesystem::file_size(raw), 1000u);
    const std::string out = folder + "/out";
    std::filesystem::create_directories(out);
    for (const bool bySize : {false, true}) {
        const SplitOutcome outcome = TrySplit(raw, out, bySize ? ClipRange{0, 50'000, 0} : ClipRange{0, 2 * kSecond, 0},
                                              bySize, bySize ? u".mkv" : u".mp4");
        EXPECT_FALSE(outcome.hung);
        EXPECT_FALSE(outcome.log.empty());
        ASSERT_GE(outcome.fileId, 0) << "the media library reads raw H.264";
        EXPECT_TRUE(!outcome.ran || outcome.codes.back() == KX_NOTIFY_TASK_END);
    }
}

TEST(BadInputFiles, NamedPipeIsRefusedWithoutWaitingForAWriter) {
    // Opening a pipe for reading waits until something opens it for writing:
    // a host handing one over by mistake must not hang in AddFile.
    const std::string pipe = TempFolder("bad_pipe") + "/pipe.mp4";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    LogCapture log;
    IStreamwright* converter = CreateConverter();
    ASSERT_NE(converter, nullptr);
    auto id = std::make_shared<std::atomic<int64_t>>(0);
    auto name = std::make_shared<Bstr>(pipe);
    const bool ended = EndsWithin(std::chrono::seconds(10), [converter, name, id] { *id = converter->AddFile(*name); });
    if (!ended) {
        // Let the stuck open through (a writer that leaves at once), so that the converter can go.
        int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
        EndsWithin(std::chrono::seconds(10), [] {});
    }
    EXPECT_TRUE(ended) << "AddFile waited for a writer of the pipe";
    if (ended) {
        EXPECT_EQ(id->load(), -1);
        EXPECT_TRUE(log.Contains(kOpenFailed));
        converter->Release();
    }
}
