// Merge and stream-mix tasks end to end, judged by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

// One group holding the given ids, in order.
void ExpectOneGroup(IStreamwright* converter, const std::vector<int64_t>& ids) {
    IMerge_LossCopy_Check_Info* check = converter->CheckMerge();
    ASSERT_NE(check, nullptr);
    MergeCheckResult* result = check->GetCheckInfo();
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(result->groupCount, 1);
    ASSERT_EQ(result->groups[0].count, static_cast<int64_t>(ids.size()));
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(result->groups[0].fileIds[i], ids[i]);
    }
    check->Release();
}

double EndOf(const std::vector<ProbePacket>& packets) {
    double end = 0;
    for (const auto& p : packets) end = std::max(end, p.pts + p.duration);
    return end;
}

}  // namespace

TEST(TaskMerge, TwoFilesJoinWithoutGapOrOverlap) {
    const std::string out = TempFolder("merge_two") + "/merged.mp4";
    Task task;
    int64_t a = task.Add(Fixture("h264_aac.mp4"));
    int64_t b = task.Add(Fixture("h264_aac_lowrate.mp4"));
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_EQ(task->SetTaskType(KX_TASK_MERGE, -1), KX_S_OK);
    ExpectOneGroup(task.get(), {a, b});
    task.SetOutput(out);
    ASSERT_EQ(task.Launch(a), KX_S_OK);
    task.Wait();

    EXPECT_EQ(DecodeErrors(out), "");
    auto video = ProbePackets(out, "v:0");
    // 10 s + 6 s of 25 fps pictures, each exactly once.
    EXPECT_EQ(video.size(), 400u);
    std::vector<double> pts;
    for (const auto& p : video) pts.push_back(p.pts);
    std::sort(pts.begin(), pts.end());
    for (size_t i = 1; i < pts.size(); ++i) {
        EXPECT_NEAR(pts[i] - pts[i - 1], 0.04, 0.002) << "at packet " << i;
    }
    EXPECT_NEAR(EndOf(video), 16.0, 0.05);
    std::vector<std::string> frames = FrameHashes(out);
    std::vector<std::string> first = FrameHashes(Fixture("h264_aac.mp4"));
    std::vector<std::string> second = FrameHashes(Fixture("h264_aac_lowrate.mp4"));
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(frames, first);

    // Whole files: each clip ends because its input ran out (10 after 5).
    std::vector<int32_t> expected = {
        KX_NOTIFY_TASK_BEGIN,  KX_NOTIFY_FILE_BEGIN,  KX_NOTIFY_CLIP_BEGIN, KX_NOTIFY_PROGRESS,   KX_NOTIFY_CLIP_END,
        KX_NOTIFY_INPUT_ENDED, KX_NOTIFY_FILE_END,    KX_NOTIFY_FILE_BEGIN, KX_NOTIFY_CLIP_BEGIN, KX_NOTIFY_PROGRESS,
        KX_NOTIFY_CLIP_END,    KX_NOTIFY_INPUT_ENDED, KX_NOTIFY_FILE_END,   KX_NOTIFY_TASK_END};
    EXPECT_EQ(task.notifications.Codes(), expected);
}

TEST(TaskMerge, ThreeFilesWithClips) {
    const std::string out = TempFolder("merge_three") + "/merged.mkv";
    Task task;
    int64_t a = task.Add(Fixture("h264_aac.mp4"));
    int64_t b = task.Add(Fixture("h264_aac.mp4"));
    int64_t c = task.Add(Fixture("h264_aac_lowrate.mp4"));
    ASSERT_TRUE(a >= 0 && b >= 0 && c >= 0);
    ClipRange clip{2 * kSecond, 3 * kSecond, 0};
    ASSERT_EQ(task->AddTimeClip(b, &clip), KX_S_OK);
    ASSERT_EQ(task->SetTaskType(KX_TASK_MERGE, -1), KX_S_OK);
    ExpectOneGroup(task.get(), {a, b, c});
    task.SetOutput(out);
    ASSERT_EQ(task.Launch(a), KX_S_OK);
    task.Wait();
    EXPECT_EQ(DecodeErrors(out), "");
    auto video = ProbePackets(out, "v:0");
    EXPECT_NEAR(EndOf(video), 10.0 + 3.0 + 6.0, 0.1);
    std::vector<double> pts;
    for (const auto& p : video) pts.push_back(p.pts);
    std::sort(pts.begin(), pts.end());
    EXPECT_EQ(std::adjacent_find(pts.begin(), pts.end()), pts.end()) << "no two pictures at one time";
}

TEST(TaskMerge, WithoutFilesSendsOnlyFileEnd) {
    Task task;
    ASSERT_EQ(task->SetTaskType(KX_TASK_MERGE, -1), KX_S_OK);
    task.SetOutput(TempFolder("merge_none") + "/none.mp4");
    ASSERT_EQ(task->Start(), KX_S_OK);
    task.Wait();
    EXPECT_EQ(task.notifications.Codes(), (std::vector<int32_t>{KX_NOTIFY_FILE_END}));
}

TEST(TaskStreamMix, VideoOfOneFileAndAudioOfAnother) {
    const std::string out = TempFolder("mix") + "/mixed.mp4";
    Task task;
    int64_t v = task.Add(Fixture("video_only.mp4"), {{0, KX_STREAM_VIDEO}});
    int64_t a = task.Add(Fixture("audio_only.m4a"), {{0, KX_STREAM_AUDIO}});
    ASSERT_GE(v, 0);
    ASSERT_GE(a, 0);
    ASSERT_EQ(task->SetTaskType(KX_TASK_STREAM_MIX, -1), KX_S_OK);
    task.SetOutput(out);
    ASSERT_EQ(task.Launch(v), KX_S_OK);
    task.Wait();
    EXPECT_EQ(ProbeCodecs(out), (std::vector<std::string>{"h264", "aac"}));
    EXPECT_EQ(DecodeErrors(out), "");
    auto video = ProbePackets(out, "v:0");
    auto audio = ProbePackets(out, "a:0");
    EXPECT_EQ(video.size(), 250u);
    EXPECT_GT(audio.size(), 400u);
    EXPECT_NEAR(EndOf(video), 10.0, 0.05);
    EXPECT_NEAR(EndOf(audio), 10.0, 0.1);
    // Interleaved: the packet order in the file follows presentation time.
    std::string order = RunCommand("ffprobe -v error -show_entries packet=pts_time -of csv=p=0 '" + out + "'");
    std::vector<double> times;
    std::istringstream lines(order);
    std::string line;
    while (std::getline(lines, line))  // the priming packet's side data adds a line without a time
        if (!line.empty() && line[0] != ',') times.push_back(std::stod(line));
    int outOfOrder = 0;
    for (size_t i = 1; i < times.size(); ++i)
        if (times[i] + 0.5 < times[i - 1]) ++outOfOrder;
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(task.notifications.Codes(),
              (std::vector<int32_t>{KX_NOTIFY_TASK_BEGIN, KX_NOTIFY_CLIP_BEGIN, KX_NOTIFY_PROGRESS, KX_NOTIFY_CLIP_END,
                                    KX_NOTIFY_FILE_END, KX_NOTIFY_TASK_END}));
}
