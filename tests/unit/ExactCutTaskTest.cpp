// A split with KX_TASK_OPTION_EXACT_FRAMES stopped while a clip's pictures
// are encoded. What such splits write, and what they report per clip, is
// judged by the corpus job `exact` through the program.
#include <gtest/gtest.h>

#include <filesystem>

#include "TaskTestSupport.h"

using namespace kxtest;

namespace {
constexpr int64_t kMs = kSecond / 1000;
}  // namespace

TEST(ExactCutTask, StopWhileEncodingLeavesNoClip) {
    // Paused at the clip's first progress: its head is written, its tail not yet.
    PauseAt pause([](const Notification& n, int) { return n.code == KX_NOTIFY_CLIP_PROGRESS; });
    Task task;
    const int64_t id = task.Add(Fixture("h264_aac.mp4"));
    ClipRange clip{1520 * kMs, 5000 * kMs, 0};
    ASSERT_EQ(task->AddTimeClip(id, &clip), KX_S_OK);
    ASSERT_EQ(task->SetTaskType(KX_TASK_SPLIT, KX_TASK_OPTION_EXACT_FRAMES), KX_S_OK);
    pause.Attach(task.get());
    const std::string folder = TempFolder("exact_stop");
    task.SetOutput(folder);
    ASSERT_EQ(task.Launch(id), KX_S_OK);
    ASSERT_TRUE(pause.WaitForPause());
    const std::string output = task.OutputName(id, 0);
    EXPECT_EQ(task->Stop(), KX_S_OK);
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_TRUE(PartialFilesIn(folder).empty());
    EXPECT_EQ(KX_IsOutputComplete(task.get(), id, 0), 0);
}
