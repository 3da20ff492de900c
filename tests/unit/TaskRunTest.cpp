// Split, merge and stream-mix tasks through IStreamwright: the notifications
// a host sees, and outputs that last as long as asked. That they decode, with
// every stream, is judged frame by frame by tests/corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

// Seconds from 0 to the end of the last packet.
double EndOf(const std::vector<Packet>& packets) {
    int64_t end = 0;
    for (const auto& p : packets) end = std::max(end, p.pts + p.duration);
    return static_cast<double>(end) / kSecond;
}

constexpr int32_t kBegin = KX_NOTIFY_TASK_BEGIN, kFile = KX_NOTIFY_FILE_BEGIN, kClip = KX_NOTIFY_CLIP_BEGIN,
                  kProgress = KX_NOTIFY_PROGRESS, kClipEnd = KX_NOTIFY_CLIP_END, kRanOut = KX_NOTIFY_INPUT_ENDED,
                  kFileEnd = KX_NOTIFY_FILE_END, kEnd = KX_NOTIFY_TASK_END;

struct TaskCase {
    const char* name;
    uint32_t type;
    std::vector<const char*> files;  // the one stream of video_only and audio_only, both of the others
    std::vector<std::pair<size_t, ClipRange>> clips;  // of the file at that index
    const char* output;              // the file of a merge or mix, the extension of a split
    std::vector<int32_t> codes;      // progress runs folded into one; none: not checked
    std::vector<double> videoEnds;   // of each output, in seconds
    double tolerance;
    double start = 0;  // of the first picture; Matroska leaves room for the sound's priming
};

// Sets the task up; returns the file id to launch.
int64_t SetUpTask(Task& task, const TaskCase& c, const std::string& folder) {
    std::vector<int64_t> ids;
    for (const std::string file : c.files) {
        ids.push_back(file == "video_only.mp4"   ? task.Add(Fixture(file), {{0, KX_STREAM_VIDEO}})
                      : file == "audio_only.m4a" ? task.Add(Fixture(file), {{0, KX_STREAM_AUDIO}})
                                                 : task.Add(Fixture(file)));
        if (c.type == KX_TASK_SPLIT) {
            EXPECT_EQ(task->GetFileKeyFrameIndex(ids.back(), nullptr), KX_S_OK);
        }
    }
    for (auto [file, clip] : c.clips) EXPECT_EQ(task->AddTimeClip(ids[file], &clip), KX_S_OK);
    EXPECT_EQ(task->SetTaskType(c.type, -1), KX_S_OK);
    if (c.type == KX_TASK_MERGE) task->CheckMerge()->Release();
    if (c.type == KX_TASK_SPLIT) {
        EXPECT_EQ(task->SetOutputExtension(Bstr(std::string(c.output))), KX_S_OK);
    }
    task.SetOutput(c.type == KX_TASK_SPLIT ? folder : folder + "/" + c.output);
    return ids.front();
}

}  // namespace

TEST(TaskRun, NotificationsAndOutputsOfEachKind) {
    const TaskCase cases[] = {
        // 2.3 s snaps to the key frame at 2 s.
        {"time clips snap to key frames", KX_TASK_SPLIT, {"h264_aac.mp4"},
         {{0, {23 * kSecond / 10, 3 * kSecond, 0}}, {0, {6 * kSecond, 2 * kSecond, 0}}}, "",
         {kBegin, kFile, kClip, kProgress, kClipEnd, kClip, kProgress, kClipEnd, kFileEnd, kEnd}, {3.0, 2.0}, 0.045},
        {"a clip past the input's end sends 10 after 5", KX_TASK_SPLIT, {"h264_aac.mp4"},
         {{0, {8 * kSecond, 20 * kSecond, 0}}}, "",
         {kBegin, kFile, kClip, kProgress, kClipEnd, kRanOut, kFileEnd, kEnd}, {2.0}, 0.045},
        {"another container by extension", KX_TASK_SPLIT, {"h264_aac.mp4"}, {{0, {0, 4 * kSecond, 0}}}, ".mkv",
         {kBegin, kFile, kClip, kProgress, kClipEnd, kFileEnd, kEnd}, {4.0}, 0.045, 0.021},
        // Whole files: each clip ends because its input ran out.
        {"merge of two files", KX_TASK_MERGE, {"h264_aac.mp4", "h264_aac_lowrate.mp4"}, {}, "merged.mp4",
         {kBegin, kFile, kClip, kProgress, kClipEnd, kRanOut, kFileEnd, kFile, kClip, kProgress, kClipEnd, kRanOut,
          kFileEnd, kEnd},
         {16.0}, 0.05},
        {"merge of three files, one of them a clip", KX_TASK_MERGE,
         {"h264_aac.mp4", "h264_aac.mp4", "h264_aac_lowrate.mp4"}, {{1, {2 * kSecond, 3 * kSecond, 0}}},
         "merged.mkv", {}, {10.0 + 3.0 + 6.0}, 0.1, 0.021},
        {"video of one file and audio of another", KX_TASK_STREAM_MIX, {"video_only.mp4", "audio_only.m4a"}, {},
         "mixed.mp4", {kBegin, kClip, kProgress, kClipEnd, kFileEnd, kEnd}, {10.0}, 0.05},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Task task;
        const int64_t id = SetUpTask(task, c, TempFolder("task_run"));
        ASSERT_GE(id, 0);
        ASSERT_EQ(task.Launch(id), KX_S_OK);
        task.Wait();
        if (!c.codes.empty()) {
            EXPECT_EQ(task.notifications.Codes(), c.codes);
        }
        for (size_t j = 0; j < c.videoEnds.size(); ++j) {
            const std::string output = task.OutputName(id, static_cast<int64_t>(j));
            ASSERT_TRUE(std::filesystem::exists(output)) << output;
            auto video = ProbeTicks(output, 0);
            ASSERT_FALSE(video.empty()) << output;
            EXPECT_TRUE(video.front().key) << output << " must start on a key frame";
            EXPECT_NEAR(static_cast<double>(video.front().pts) / kSecond, c.start, 0.001) << output;
            EXPECT_NEAR(EndOf(video) - c.start, c.videoEnds[j], c.tolerance) << output;
            // Each picture once: no two at one time, none missing in between.
            std::vector<int64_t> pts;
            for (const auto& p : video) pts.push_back(p.pts);
            std::sort(pts.begin(), pts.end());
            for (size_t i = 1; i < pts.size(); ++i)
                ASSERT_NEAR(pts[i] - pts[i - 1], 400000, 20000) << output << " " << i;
            auto audio = ProbeTicks(output, 1);
            ASSERT_FALSE(audio.empty()) << output;
            EXPECT_NEAR(EndOf(audio) - c.start, c.videoEnds[j], 0.1) << output;
            // Interleaved: the packet order in the file follows presentation time.
            double latest = 0;
            for (const auto& line :
                 Lines(RunCommand("ffprobe -v error -show_entries packet=pts_time -of csv=p=0 " + Quote(output)))) {
                if (line[0] == ',') continue;  // the priming packet's side data adds a line without a time
                EXPECT_GT(std::stod(line) + 0.5, latest) << output;
                latest = std::max(latest, std::stod(line));
            }
        }
    }
}

// Every clip that ends at its length reports 100 twice (task and clip) just
// before its end; clip progress rises and names its file.
TEST(TaskRun, ClipProgressRisesToAHundredBeforeTheClipEnds) {
    Task task;
    const int64_t id = task.Add(Fixture("h264_aac.mp4"));
    ASSERT_GE(id, 0);
    for (int64_t start : {2, 6}) {
        ClipRange clip{start * kSecond, 2 * kSecond, 0};
        ASSERT_EQ(task->AddTimeClip(id, &clip), KX_S_OK);
    }
    task.SetOutput(TempFolder("task_progress"));
    ASSERT_EQ(task.Launch(id), KX_S_OK);
    task.Wait();
    auto all = task.notifications.All();
    int lastClipPercent = -1, clipEnds = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].code == KX_NOTIFY_CLIP_PROGRESS) {
            EXPECT_GT(all[i].value, lastClipPercent);
            lastClipPercent = all[i].value;
        }
        if (all[i].code == KX_NOTIFY_CLIP_END) {
            ++clipEnds;
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
    EXPECT_EQ(clipEnds, 2);
}

TEST(TaskRun, MergeWithoutFilesSendsOnlyFileEnd) {
    Task task;
    ASSERT_EQ(task->SetTaskType(KX_TASK_MERGE, -1), KX_S_OK);
    task.SetOutput(TempFolder("merge_none") + "/none.mp4");
    ASSERT_EQ(task->Start(), KX_S_OK);
    task.Wait();
    EXPECT_EQ(task.notifications.Codes(), (std::vector<int32_t>{KX_NOTIFY_FILE_END}));
}
