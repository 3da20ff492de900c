// Start, Pause, Resume, Stop and WaitForCompletion on real tasks (also run
// under ThreadSanitizer).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

// A split of h264_aac.mp4 into three 3-second clips, paused when clip `at` begins.
struct PausedSplit {
    PauseAt pause;
    Task task;
    int64_t id = -1;
    PausedSplit(int64_t at, const std::string& folder) : pause(AtClip(at)) {
        id = task.Add(Fixture("h264_aac.mp4"));
        for (int j = 0; j < 3; ++j) {
            ClipRange clip{j * 3 * kSecond, 3 * kSecond, 0};
            task->AddTimeClip(id, &clip);
        }
        pause.Attach(task.get());
        task.SetOutput(TempFolder(folder));
    }
};

}  // namespace

TEST(TaskThread, StartTwiceRefusesTheSecond) {
    PausedSplit split(0, "start_twice");
    ASSERT_EQ(split.task.Launch(split.id), KX_S_OK);
    EXPECT_EQ(split.task->Start(), KX_E_FAIL);
    ASSERT_TRUE(split.pause.WaitForPause());
    EXPECT_EQ(split.task->WaitForCompletion(0), KX_WAIT_TIMEOUT);
    EXPECT_EQ(split.task->Resume(), KX_S_OK);
    EXPECT_EQ(split.task->WaitForCompletion(KX_INFINITE), 0u);
    EXPECT_EQ(split.task->WaitForCompletion(0), 0u);
    EXPECT_EQ(split.task->Pause(), KX_E_FAIL) << "not busy after the end";
}

TEST(TaskThread, PauseTwiceResumeOnceRunsAgainAndHoldsTheOutputStill) {
    PausedSplit split(1, "pause_twice");
    ASSERT_EQ(split.task.Launch(split.id), KX_S_OK);
    ASSERT_TRUE(split.pause.WaitForPause());
    EXPECT_EQ(split.task->Pause(), KX_S_OK);  // a second pause changes nothing
    // The clip being written has its temporary name until it is complete.
    const std::string clip1 = split.task.OutputName(split.id, 1);
    EXPECT_FALSE(std::filesystem::exists(clip1));
    const std::string partial = PartialFileOf(clip1);
    ASSERT_FALSE(partial.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto size = std::filesystem::file_size(partial);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(std::filesystem::file_size(partial), size) << "paused: nothing written";
    EXPECT_EQ(split.task->WaitForCompletion(50), KX_WAIT_TIMEOUT);
    EXPECT_EQ(split.task->Resume(), KX_S_OK);
    EXPECT_EQ(split.task->WaitForCompletion(KX_INFINITE), 0u);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(DecodeErrors(split.task.OutputName(split.id, j)), "");
    EXPECT_EQ(split.pause.log.Codes().back(), KX_NOTIFY_TASK_END);
}

TEST(TaskThread, StopOnAPausedSplitKeepsFinishedClipsAndRemovesTheCurrentOne) {
    PausedSplit split(1, "stop_split");
    ASSERT_EQ(split.task.Launch(split.id), KX_S_OK);
    ASSERT_TRUE(split.pause.WaitForPause());
    const std::string clip0 = split.task.OutputName(split.id, 0), clip1 = split.task.OutputName(split.id, 1);
    EXPECT_EQ(split.task->Stop(), KX_S_OK);
    // Stop returned after the worker ended: the task's closing codes are in.
    const std::vector<int32_t> codes = split.pause.log.Codes();
    EXPECT_EQ(std::vector<int32_t>(codes.end() - 4, codes.end()),
              (std::vector<int32_t>{KX_NOTIFY_CLIP_BEGIN, KX_NOTIFY_CLIP_END, KX_NOTIFY_FILE_END, KX_NOTIFY_TASK_END}));
    EXPECT_EQ(split.task->WaitForCompletion(0), 0u);
    EXPECT_EQ(DecodeErrors(clip0), "");
    EXPECT_FALSE(std::filesystem::exists(clip1)) << "a clip cut off is no clip";
    EXPECT_TRUE(PartialFilesIn(std::filesystem::path(clip0).parent_path().string()).empty());
    // Finished clips stay when the converter is reset.
    EXPECT_EQ(split.task->Reset(), KX_S_OK);
    EXPECT_TRUE(std::filesystem::exists(clip0));
}

TEST(TaskThread, StoppedMergeLeavesNoFile) {
    const std::string out = TempFolder("stop_merge") + "/merged.mp4";
    int64_t second = -1;
    PauseAt pause(
        [&second](const Notification& n, int) { return n.code == KX_NOTIFY_CLIP_BEGIN && n.fileId == second; });
    Task task;
    const int64_t first = task.Add(Fixture("h264_aac.mp4"));
    second = task.Add(Fixture("h264_aac.mp4"));
    ASSERT_TRUE(first >= 0 && second >= 0);
    task->SetTaskType(KX_TASK_MERGE, -1);
    task->CheckMerge()->Release();
    pause.Attach(task.get());
    task.SetOutput(out);
    ASSERT_EQ(task.Launch(first), KX_S_OK);
    ASSERT_TRUE(pause.WaitForPause());
    EXPECT_FALSE(PartialFileOf(out).empty()) << "the merge is written under its temporary name";
    EXPECT_EQ(task->Stop(), KX_S_OK);
    // Half a merge is no merge: neither the name nor the temporary file stays.
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_TRUE(PartialFilesIn(std::filesystem::path(out).parent_path().string()).empty());
}
