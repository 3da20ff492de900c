// Input files, clips, reordering, output names and the merge check on real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

std::vector<std::vector<int64_t>> Groups(IStreamwright* converter) {
    std::vector<std::vector<int64_t>> groups;
    IMerge_LossCopy_Check_Info* check = converter->CheckMerge();
    if (!check) return groups;
    MergeCheckResult* result = check->GetCheckInfo();
    for (int64_t g = 0; result && g < result->groupCount; ++g)
        groups.emplace_back(result->groups[g].fileIds, result->groups[g].fileIds + result->groups[g].count);
    check->Release();
    return groups;
}

}  // namespace

// The input's name without its extension, the file id and the clip number;
// the extension asked for, or else the input's own in lower case.
TEST(ConverterFiles, SplitOutputNames) {
    const std::string folder = TempFolder("names");
    std::filesystem::copy_file(Fixture("h264_aac.mp4"), folder + "/Holiday.Trip.MP4");
    std::filesystem::copy_file(Fixture("h264_mp3.avi"), folder + "/CLIP.AVI");
    Task task;
    const int64_t id = task.Add(folder + "/Holiday.Trip.MP4"), avi = task.Add(folder + "/CLIP.AVI");
    ASSERT_TRUE(id >= 0 && avi >= 0);
    for (int j = 0; j < 3; ++j) {
        ClipRange clip{j * kSecond, kSecond, 0};
        ASSERT_EQ(task->AddTimeClip(id, &clip), KX_S_OK);
    }
    ClipRange clip{0, kSecond, 0};
    task->AddTimeClip(avi, &clip);
    task.SetOutput("/out");
    ASSERT_EQ(task->GetOutputCount(id), 3);
    const std::string stem = "/out/Holiday.Trip_" + std::to_string(id) + "_002";
    EXPECT_EQ(task.OutputName(id, 2), stem + ".mp4");
    EXPECT_EQ(task.OutputName(id, 3), "") << "index beyond the count";
    task->SetOutputExtension(Bstr(std::string(".mov")));
    EXPECT_EQ(task.OutputName(id, 2), stem + ".mov");
    task->SetOutputExtension(Bstr(std::string("")));
    ASSERT_EQ(task->GetOutputCount(avi), 1);  // names are given for the file counted last
    EXPECT_EQ(std::filesystem::path(task.OutputName(avi, 0)).extension(), ".avi");
}

TEST(ConverterFiles, IdsRiseAcrossConvertersThreadsAndFailures) {
    Task first;
    Task second;
    int64_t a = first.Add(Fixture("h264_aac.mp4"), {});
    int64_t failed = first->AddFile(Bstr(std::string("/no/such/file.mp4")));
    int64_t b = second.Add(Fixture("h264_aac.mp4"), {});
    EXPECT_EQ(failed, -1);
    EXPECT_EQ(b, a + 2) << "a failed AddFile uses up an id, and ids are process-wide";

    std::vector<int64_t> ids(8, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            Task task;
            ids[t] = task.Add(Fixture("audio_only.m4a"), {});
        });
    for (auto& thread : threads) thread.join();
    std::sort(ids.begin(), ids.end());
    EXPECT_GT(ids.front(), b);
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "distinct ids";
}

TEST(ConverterFiles, MoveAndSwapFilesReorderAsTheMergeGroupsShow) {
    // Files that never merge with each other each make a group, in list
    // order. Indexes of the three files; 3 is an id no file has.
    struct Case {
        std::vector<int> moving;
        int64_t to;
        bool swapLastTwo;  // afterwards
        std::vector<int> order;
    };
    const Case cases[] = {{{1}, 0, false, {1, 0, 2}},
                          {{0}, 3, false, {1, 2, 0}},
                          {{0, 2, 0, 3}, 2, false, {1, 0, 2}},
                          {{0, 2, 0, 3}, 2, true, {2, 0, 1}}};
    for (const Case& c : cases) {
        Task task;
        const int64_t id[] = {task.Add(Fixture("h264_aac.mp4")),
                              task.Add(Fixture("audio_only.m4a"), {{0, KX_STREAM_AUDIO}}),
                              task.Add(Fixture("video_only.mp4"), {{0, KX_STREAM_VIDEO}}), 999999};
        task->SetTaskType(KX_TASK_MERGE, -1);
        std::vector<int64_t> moving, want, order;
        for (int i : c.moving) moving.push_back(id[i]);
        for (int i : c.order) want.push_back(id[i]);
        ASSERT_EQ(task->MoveFiles(moving.data(), static_cast<int64_t>(moving.size()), c.to), KX_S_OK);
        if (c.swapLastTwo) {
            ASSERT_EQ(task->SwapFiles(id[1], id[2]), KX_S_OK);
        }
        for (const auto& group : Groups(task.get())) order.push_back(group.front());
        EXPECT_EQ(order, want);
    }
}

TEST(ConverterFiles, MergeCheckGroupsAndNumbersStreams) {
    Task task;
    int64_t a = task.Add(Fixture("h264_aac.mp4"));
    int64_t b = task.Add(Fixture("h264_aac_lowrate.mp4"));
    int64_t c = task.Add(Fixture("video_only.mp4"), {{0, KX_STREAM_VIDEO}});
    int64_t d = task.Add(Fixture("h264_aac_mono44k.mp4"));
    EXPECT_TRUE(Groups(task.get()).empty()) << "no groups unless the task is a merge";
    task->SetTaskType(KX_TASK_MERGE, -1);
    auto groups = Groups(task.get());
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0], (std::vector<int64_t>{a, b}));
    EXPECT_EQ(groups[1], (std::vector<int64_t>{c}));
    EXPECT_EQ(groups[2], (std::vector<int64_t>{d})) << "other AAC extradata: not merged";
}

TEST(ConverterFiles, StreamsPairOneToOneInOrder) {
    Task task;
    // Two audio tracks of one format: the second joins the second, not both
    // the first; a third track finds no partner and opens a group.
    int64_t a = task.Add(Fixture("h264_aac.mp4"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}, {1, KX_STREAM_AUDIO}});
    int64_t b = task.Add(Fixture("h264_aac.mp4"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}, {1, KX_STREAM_AUDIO}});
    int64_t c = task.Add(Fixture("h264_aac.mp4"), {{1, KX_STREAM_AUDIO}, {1, KX_STREAM_AUDIO}, {1, KX_STREAM_AUDIO}});
    task->SetTaskType(KX_TASK_MERGE, -1);
    auto groups = Groups(task.get());
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0], (std::vector<int64_t>{a, b}));
    EXPECT_EQ(groups[1], (std::vector<int64_t>{c}));
}

TEST(ConverterFiles, PrepareTaskNamesOneOutputPerClipWithinTheOutputCount) {
    LogCapture log;
    Task task;
    int64_t id = task.Add(Fixture("h264_aac.mp4"));
    for (int j = 0; j < 3; ++j) {
        ClipRange clip{j * kSecond, kSecond, 0};
        task->AddTimeClip(id, &clip);
    }
    std::string folder = TempFolder("prepare");
    task.SetOutput(folder);
    // Without GetOutputCount no name is given: the first clip fails.
    EXPECT_EQ(task->PrepareTask(), KX_E_FAIL);
    EXPECT_TRUE(log.Contains(FormatLogLine(kx::legacy::kOpenMuxerFailed, u"")));
    ASSERT_EQ(task->GetOutputCount(id), 3);
    EXPECT_EQ(task->PrepareTask(), KX_S_OK);
    // The first clip's file is created (under its temporary name) to try the
    // output; the others are made when their clip starts. No name is used yet.
    for (int j = 0; j < 3; ++j) {
        EXPECT_FALSE(std::filesystem::exists(task.OutputName(id, j)));
    }
    EXPECT_FALSE(PartialFileOf(task.OutputName(id, 0)).empty());
    EXPECT_EQ(PartialFilesIn(folder).size(), 1u);
    // Outputs never run are unfinished: Reset removes them.
    EXPECT_EQ(task->Reset(), KX_S_OK);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(ConverterFiles, MixFileWithoutStreamIsRefused) {
    Task task;
    task.Add(Fixture("video_only.mp4"), {{0, KX_STREAM_VIDEO}});
    task.Add(Fixture("audio_only.m4a"), {});
    task->SetTaskType(KX_TASK_STREAM_MIX, -1);
    task.SetOutput(TempFolder("mix_refused") + "/mix.mp4");
    task->GetOutputCount(0);
    EXPECT_EQ(task->PrepareTask(), KX_S_FALSE);
}
