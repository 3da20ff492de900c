// Splits with KX_TASK_OPTION_EXACT_FRAMES through IStreamwright: what the
// host is told per clip, and a stop while a clip's pictures are encoded. The
// pictures themselves are judged by the corpus job `exact`.
#include <gtest/gtest.h>

#include <filesystem>

#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

constexpr int64_t kMs = kSecond / 1000;

struct ExactCase {
    const char* what;
    const char* fixture;  // 25 pictures a second, a key frame every second
    int64_t startMs, lengthMs;
    KX_ClipCutReport report;
    const char* reason;  // of a fall-back
};

}  // namespace

TEST(ExactCutTask, EachClipSaysWhatWasEncodedOrWhyItWasCutAtKeyFrames) {
    const ExactCase cases[] = {
        // 1.52 .. 1.96 encoded, 2.00 .. 2.96 copied, 3.00 .. 3.48 encoded.
        {"both ends inside groups", "h264_aac.mp4", 1520, 2000, {12 + 13, 25, 0, 0}, nullptr},
        {"start on a key frame", "h264_aac.mp4", 2000, 1520, {13, 25, 0, 0}, nullptr},
        {"inside one group", "h264_aac.mp4", 2200, 400, {10, 0, 0, 0}, nullptr},
        {"open group", "h264_bframes_opengop.mp4", 1520, 2000, {0, 0, 1, 0}, "not an IDR picture"},
    };
    for (const ExactCase& c : cases) {
        SCOPED_TRACE(c.what);
        Task task;
        const int64_t id = task.Add(Fixture(c.fixture));
        ClipRange clip{c.startMs * kMs, c.lengthMs * kMs, 0};
        ASSERT_EQ(task->AddTimeClip(id, &clip), KX_S_OK);
        ASSERT_EQ(task->SetTaskType(KX_TASK_SPLIT, KX_TASK_OPTION_EXACT_FRAMES), KX_S_OK);
        task.SetOutput(TempFolder("exact_report"));
        ASSERT_EQ(task.Launch(id), KX_S_OK);
        task.Wait();
        EXPECT_EQ(DecodeErrors(task.OutputName(id, 0)), "");
        KX_ClipCutReport report{-1, -1, -1, -1};
        ASSERT_EQ(KX_GetClipCutReport(task.get(), id, 0, &report), KX_S_OK);
        EXPECT_EQ(report.fellBack, c.report.fellBack);
        if (!c.report.fellBack) {
            EXPECT_EQ(report.reencodedFrames, c.report.reencodedFrames);
            EXPECT_EQ(report.copiedFrames, c.report.copiedFrames);
        }
        BSTR reason = KX_GetClipCutReason(task.get(), id, 0);
        EXPECT_EQ(reason != nullptr, c.reason != nullptr);
        const std::string said = reason ? Narrow(reason) : "";
        EXPECT_NE(said.find(c.reason ? c.reason : ""), std::string::npos) << said;
        SysFreeString(reason);
        EXPECT_EQ(KX_GetClipCutReport(task.get(), id, 1, &report), KX_E_INVALIDARG);
        EXPECT_EQ(KX_GetClipCutReport(task.get(), id, 0, nullptr), KX_E_POINTER);
    }
}

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
