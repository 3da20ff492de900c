// Split, merge and stream-mix tasks through IStreamwright: the notifications
// a host sees, and outputs that decode and last as long as asked. The
// pictures and sound of the outputs are judged frame by frame by tests/corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

double EndOf(const std::vector<ProbePacket>& packets) {
    double end = 0;
    for (const auto& p : packets) end = std::max(end, p.pts + p.duration);
    return end;
}

// The merge check puts the files in one group, in order.
void ExpectOneGroup(IStreamwright* converter, const std::vector<int64_t>& ids) {
    IMerge_LossCopy_Check_Info* check = converter->CheckMerge();
    ASSERT_NE(check, nullptr);
    MergeCheckResult* result = check->GetCheckInfo();
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(result->groupCount, 1);
    ASSERT_EQ(result->groups[0].count, static_cast<int64_t>(ids.size()));
    for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(result->groups[0].fileIds[i], ids[i]);
    check->Release();
}

int64_t Merge(Task& task, const std::vector<const char*>& files, const std::string& folder, const char* name) {
    std::vector<int64_t> ids;
    for (const char* file : files) ids.push_back(task.Add(Fixture(file)));
    EXPECT_EQ(task->SetTaskType(KX_TASK_MERGE, -1), KX_S_OK);
    ExpectOneGroup(task.get(), ids);
    task.SetOutput(folder + "/" + name);
    return ids.front();
}

constexpr int32_t kBegin = KX_NOTIFY_TASK_BEGIN, kFile = KX_NOTIFY_FILE_BEGIN, kClip = KX_NOTIFY_CLIP_BEGIN,
                  kProgress = KX_NOTIFY_PROGRESS, kClipEnd = KX_NOTIFY_CLIP_END, kRanOut = KX_NOTIFY_INPUT_ENDED,
                  kFileEnd = KX_NOTIFY_FILE_END, kEnd = KX_NOTIFY_TASK_END;

struct TaskCase {
    const char* name;
    // Sets the task up; returns the file id to launch.
    std::function<int64_t(Task&, const std::string& folder)> setUp;
    std::vector<int32_t> codes;       // progress runs folded into one
    std::vector<double> videoEnds;    // of each output, in seconds
    double tolerance;
    double start = 0;  // of the first picture; Matroska leaves room for the sound's priming
};

}  // namespace

TEST(TaskRun, NotificationsAndOutputsOfEachKind) {
    const TaskCase cases[] = {
        {"time clips snap to key frames",
         [](Task& task, const std::string& folder) {
             const int64_t id = task.Add(Fixture("h264_aac.mp4"));
             EXPECT_EQ(task->GetFileKeyFrameIndex(id, nullptr), KX_S_OK);
             ClipRange first{23 * kSecond / 10, 3 * kSecond, 0};  // 2.3 s snaps to the key frame at 2 s
             ClipRange second{6 * kSecond, 2 * kSecond, 0};
             EXPECT_EQ(task->AddTimeClip(id, &first), KX_S_OK);
             EXPECT_EQ(task->AddTimeClip(id, &second), KX_S_OK);
             task.SetOutput(folder);
             return id;
         },
         {kBegin, kFile, kClip, kProgress, kClipEnd, kClip, kProgress, kClipEnd, kFileEnd, kEnd},
         {3.0, 2.0}, 0.045},
        {"a clip past the input's end sends 10 after 5",
         [](Task& task, const std::string& folder) {
             const int64_t id = task.Add(Fixture("h264_aac.mp4"));
             ClipRange clip{8 * kSecond, 20 * kSecond, 0};
             EXPECT_EQ(task->AddTimeClip(id, &clip), KX_S_OK);
             task.SetOutput(folder);
             return id;
         },
         {kBegin, kFile, kClip, kProgress, kClipEnd, kRanOut, kFileEnd, kEnd}, {2.0}, 0.045},
        {"another container by extension",
         [](Task& task, const std::string& folder) {
             const int64_t id = task.Add(Fixture("h264_aac.mp4"));
             ClipRange clip{0, 4 * kSecond, 0};
             EXPECT_EQ(task->AddTimeClip(id, &clip), KX_S_OK);
             Bstr extension(u".mkv");
             EXPECT_EQ(task->SetOutputExtension(extension), KX_S_OK);
             task.SetOutput(folder);
             return id;
         },
         {kBegin, kFile, kClip, kProgress, kClipEnd, kFileEnd, kEnd}, {4.0}, 0.045, 0.021},
        // Whole files: each clip ends because its input ran out.
        {"merge of two files",
         [](Task& task, const std::string& folder) {
             return Merge(task, {"h264_aac.mp4", "h264_aac_lowrate.mp4"}, folder, "merged.mp4");
         },
         {kBegin, kFile, kClip, kProgress, kClipEnd, kRanOut, kFileEnd, kFile, kClip, kProgress, kClipEnd, kRanOut,
          kFileEnd, kEnd},
         {16.0}, 0.05},
        {"merge of three files, one of them a clip",
         [](Task& task, const std::string& folder) {
             const int64_t id = Merge(task, {"h264_aac.mp4", "h264_aac.mp4", "h264_aac_lowrate.mp4"}, folder,
                                      "merged.mkv");
             ClipRange clip{2 * kSecond, 3 * kSecond, 0};
             EXPECT_EQ(task->AddTimeClip(id + 1, &clip), KX_S_OK);
             return id;
         },
         {}, {10.0 + 3.0 + 6.0}, 0.1, 0.021},
        {"video of one file and audio of another",
         [](Task& task, const std::string& folder) {
             const int64_t id = task.Add(Fixture("video_only.mp4"), {{0, KX_STREAM_VIDEO}});
             EXPECT_GE(task.Add(Fixture("audio_only.m4a"), {{0, KX_STREAM_AUDIO}}), 0);
             EXPECT_EQ(task->SetTaskType(KX_TASK_STREAM_MIX, -1), KX_S_OK);
             task.SetOutput(folder + "/mixed.mp4");
             return id;
         },
         {kBegin, kClip, kProgress, kClipEnd, kFileEnd, kEnd}, {10.0}, 0.05},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Task task;
        const int64_t id = c.setUp(task, TempFolder("task_run"));
        ASSERT_GE(id, 0);
        ASSERT_EQ(task.Launch(id), KX_S_OK);
        task.Wait();
        if (!c.codes.empty()) {
            EXPECT_EQ(task.notifications.Codes(), c.codes);
        }
        for (size_t j = 0; j < c.videoEnds.size(); ++j) {
            const std::string output = task.OutputName(id, static_cast<int64_t>(j));
            ASSERT_TRUE(std::filesystem::exists(output)) << output;
            EXPECT_EQ(DecodeErrors(output), "") << output;
            EXPECT_EQ(ProbeCodecs(output), (std::vector<std::string>{"h264", "aac"})) << output;
            auto video = ProbePackets(output, "v:0");
            ASSERT_FALSE(video.empty()) << output;
            EXPECT_TRUE(video.front().key) << output << " must start on a key frame";
            EXPECT_NEAR(video.front().pts, c.start, 0.001) << output;
            EXPECT_NEAR(EndOf(video) - c.start, c.videoEnds[j], c.tolerance) << output;
            // Each picture once: no two at one time, none missing in between.
            std::vector<double> pts;
            for (const auto& p : video) pts.push_back(p.pts);
            std::sort(pts.begin(), pts.end());
            for (size_t i = 1; i < pts.size(); ++i) ASSERT_NEAR(pts[i] - pts[i - 1], 0.04, 0.002) << output << " " << i;
            auto audio = ProbePackets(output, "a:0");
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
        if (std::string(c.name) == "another container by extension") {
            EXPECT_EQ(std::filesystem::path(task.OutputName(id, 0)).extension(), ".mkv");
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

TEST(TaskRun, SizeClipEndsAtTheFirstPacketAfterTheSize) {
    Task task;
    const int64_t id = task.Add(Fixture("h264_aac.mp4"));
    ASSERT_GE(id, 0);
    const int64_t size = 150'000;
    ClipRange clip{0, size, 0};
    ASSERT_EQ(task->AddSizeClip(id, &clip), KX_S_OK);
    task.SetOutput(TempFolder("split_size"));
    ASSERT_EQ(task.Launch(id), KX_S_OK);
    task.Wait();
    const std::string output = task.OutputName(id, 0);
    auto packets = ProbePackets(output, "v:0");
    auto audio = ProbePackets(output, "a:0");
    packets.insert(packets.end(), audio.begin(), audio.end());
    int64_t total = 0, largest = 0;
    for (const auto& p : packets) {
        total += p.size;
        largest = std::max(largest, p.size);
    }
    EXPECT_GE(total, size);
    EXPECT_LT(total, size + largest);
    EXPECT_EQ(DecodeErrors(output), "");
}

TEST(TaskRun, MergeWithoutFilesSendsOnlyFileEnd) {
    Task task;
    ASSERT_EQ(task->SetTaskType(KX_TASK_MERGE, -1), KX_S_OK);
    task.SetOutput(TempFolder("merge_none") + "/none.mp4");
    ASSERT_EQ(task->Start(), KX_S_OK);
    task.Wait();
    EXPECT_EQ(task.notifications.Codes(), (std::vector<int32_t>{KX_NOTIFY_FILE_END}));
}
