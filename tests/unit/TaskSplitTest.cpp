// Split tasks end to end, judged by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

// Index of `part` as a contiguous run inside `whole`, or -1.
int FindRun(const std::vector<std::string>& whole, const std::vector<std::string>& part) {
    if (part.empty() || part.size() > whole.size()) return -1;
    auto it = std::search(whole.begin(), whole.end(), part.begin(), part.end());
    return it == whole.end() ? -1 : static_cast<int>(it - whole.begin());
}

}  // namespace

TEST(TaskSplit, TimeClipsStartOnKeyFramesAndKeepTheSourcePictures) {
    const std::string source = Fixture("h264_aac.mp4");
    const std::string out = TempFolder("split_time");
    Task task;
    int64_t id = task.Add(source);
    ASSERT_GE(id, 0);
    ASSERT_EQ(task->GetFileKeyFrameIndex(id, nullptr), KX_S_OK);
    ClipRange first{23 * kSecond / 10, 3 * kSecond, 0};  // 2.3 s snaps to the key frame at 2 s
    ClipRange second{6 * kSecond, 2 * kSecond, 0};
    ASSERT_EQ(task->AddTimeClip(id, &first), KX_S_OK);
    ASSERT_EQ(task->AddTimeClip(id, &second), KX_S_OK);
    task.SetOutput(out);
    ASSERT_EQ(task.Launch(id), KX_S_OK);
    task.Wait();

    std::vector<std::string> sourceFrames = FrameHashes(source);
    ASSERT_EQ(sourceFrames.size(), 250u);
    const double expectedSeconds[] = {3.0, 2.0};
    const int expectedFirstFrame[] = {50, 150};
    for (int j = 0; j < 2; ++j) {
        std::string clip = task.OutputName(id, j);
        ASSERT_TRUE(std::filesystem::exists(clip)) << clip;
        EXPECT_EQ(DecodeErrors(clip), "") << clip;
        auto video = ProbePackets(clip, "v:0");
        ASSERT_FALSE(video.empty());
        EXPECT_TRUE(video.front().key) << "clip " << j << " must start on a key frame";
        EXPECT_NEAR(video.front().pts, 0.0, 0.001);
        double last = 0;
        for (const auto& p : video) last = std::max(last, p.pts + p.duration);
        EXPECT_NEAR(last, expectedSeconds[j], 0.045) << clip;
        std::vector<std::string> frames = FrameHashes(clip);
        EXPECT_EQ(FindRun(sourceFrames, frames), expectedFirstFrame[j]) << clip;
        EXPECT_FALSE(ProbePackets(clip, "a:0").empty()) << "audio copied too";
    }

    // 0, 2, then per clip 4, progress, 5; then 3, 1. The last progress of a
    // clip that ended normally is 6 100, 11 100.
    std::vector<int32_t> codes = task.notifications.Codes();
    std::vector<int32_t> expected = {
        KX_NOTIFY_TASK_BEGIN, KX_NOTIFY_FILE_BEGIN, KX_NOTIFY_CLIP_BEGIN, KX_NOTIFY_PROGRESS, KX_NOTIFY_CLIP_END,
        KX_NOTIFY_CLIP_BEGIN, KX_NOTIFY_PROGRESS,   KX_NOTIFY_CLIP_END,   KX_NOTIFY_FILE_END, KX_NOTIFY_TASK_END};
    EXPECT_EQ(codes, expected);
    auto all = task.notifications.All();
    int lastClipPercent = -1;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].code == KX_NOTIFY_CLIP_PROGRESS) {
            EXPECT_GT(all[i].value, lastClipPercent == 100 ? -1 : lastClipPercent);
            lastClipPercent = all[i].value;
        }
        if (all[i].code == KX_NOTIFY_CLIP_END) {
            ASSERT_GE(i, 2u);
            EXPECT_EQ(all[i - 2].code, KX_NOTIFY_PROGRESS);
            EXPECT_EQ(all[i - 2].value, 100);
            EXPECT_EQ(all[i - 1].code, KX_NOTIFY_CLIP_PROGRESS);
            EXPECT_EQ(all[i - 1].value, 100);
            lastClipPercent = -1;
        }
        if (all[i].code == KX_NOTIFY_CLIP_BEGIN || all[i].code == KX_NOTIFY_CLIP_END ||
            all[i].code == KX_NOTIFY_CLIP_PROGRESS) {
            EXPECT_EQ(all[i].fileId, id);
        }
    }
}

TEST(TaskSplit, SizeClipEndsAtTheFirstPacketAfterTheSize) {
    const std::string source = Fixture("h264_aac.mp4");
    Task task;
    int64_t id = task.Add(source);
    ASSERT_GE(id, 0);
    const int64_t size = 150'000;
    ClipRange clip{0, size, 0};
    ASSERT_EQ(task->AddSizeClip(id, &clip), KX_S_OK);
    task.SetOutput(TempFolder("split_size"));
    ASSERT_EQ(task.Launch(id), KX_S_OK);
    task.Wait();
    std::string output = task.OutputName(id, 0);
    auto packets = ProbePackets(output, "v:0");
    auto audio = ProbePackets(output, "a:0");
    packets.insert(packets.end(), audio.begin(), audio.end());
    int64_t total = 0;
    int64_t largest = 0;
    for (const auto& p : packets) {
        total += p.size;
        largest = std::max(largest, p.size);
    }
    EXPECT_GE(total, size);
    EXPECT_LT(total, size + largest);
    EXPECT_EQ(DecodeErrors(output), "");
}

TEST(TaskSplit, InputRunningOutSendsTenAfterFive) {
    Task task;
    int64_t id = task.Add(Fixture("h264_aac.mp4"));
    ASSERT_GE(id, 0);
    ClipRange clip{8 * kSecond, 20 * kSecond, 0};  // runs past the end
    ASSERT_EQ(task->AddTimeClip(id, &clip), KX_S_OK);
    task.SetOutput(TempFolder("split_ran_out"));
    ASSERT_EQ(task.Launch(id), KX_S_OK);
    task.Wait();
    std::vector<int32_t> expected = {KX_NOTIFY_TASK_BEGIN, KX_NOTIFY_FILE_BEGIN, KX_NOTIFY_CLIP_BEGIN,
                                     KX_NOTIFY_PROGRESS,   KX_NOTIFY_CLIP_END,   KX_NOTIFY_INPUT_ENDED,
                                     KX_NOTIFY_FILE_END,   KX_NOTIFY_TASK_END};
    EXPECT_EQ(task.notifications.Codes(), expected);
    EXPECT_EQ(DecodeErrors(task.OutputName(id, 0)), "");
}

TEST(TaskSplit, AnotherContainerByExtension) {
    Task task;
    int64_t id = task.Add(Fixture("h264_aac.mp4"));
    ASSERT_GE(id, 0);
    ClipRange clip{0, 4 * kSecond, 0};
    ASSERT_EQ(task->AddTimeClip(id, &clip), KX_S_OK);
    Bstr extension(u".mkv");
    ASSERT_EQ(task->SetOutputExtension(extension), KX_S_OK);
    task.SetOutput(TempFolder("split_mkv"));
    ASSERT_EQ(task.Launch(id), KX_S_OK);
    task.Wait();
    std::string output = task.OutputName(id, 0);
    EXPECT_EQ(std::filesystem::path(output).extension(), ".mkv");
    EXPECT_EQ(ProbeCodecs(output), (std::vector<std::string>{"h264", "aac"}));
    EXPECT_EQ(DecodeErrors(output), "");
}
