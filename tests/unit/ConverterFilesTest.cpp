// Input files, clips, reordering, output names and the merge check on real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

std::string CopyFixture(const std::string& fixture, const std::string& folder, const std::string& name) {
    std::string path = TempFolder(folder) + "/" + name;
    std::filesystem::copy_file(Fixture(fixture), path);
    return path;
}

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

TEST(ConverterFiles, SplitOutputNames) {
    std::string input = CopyFixture("h264_aac.mp4", "names", "Holiday.Trip.MP4");
    Task task;
    int64_t id = task.Add(input);
    ASSERT_GE(id, 0);
    for (int j = 0; j < 3; ++j) {
        ClipRange clip{j * kSecond, kSecond, 0};
        ASSERT_EQ(task->AddTimeClip(id, &clip), KX_S_OK);
    }
    task.SetOutput("/out");
    ASSERT_EQ(task->GetOutputCount(id), 3);
    char expected[64];
    std::snprintf(expected, sizeof expected, "/out/Holiday.Trip_%lld_002.mp4", static_cast<long long>(id));
    EXPECT_EQ(task.OutputName(id, 2), expected);
    Bstr mov(u".mov");
    task->SetOutputExtension(mov);
    std::snprintf(expected, sizeof expected, "/out/Holiday.Trip_%lld_002.mov", static_cast<long long>(id));
    EXPECT_EQ(task.OutputName(id, 2), expected);
    EXPECT_EQ(task.OutputName(id, 3), "") << "index beyond the count";

    std::string avi = CopyFixture("h264_mp3.avi", "names_avi", "CLIP.AVI");
    int64_t aviId = task.Add(avi);
    ASSERT_GE(aviId, 0);
    Bstr none(u"");
    task->SetOutputExtension(none);
    ClipRange clip{0, kSecond, 0};
    task->AddTimeClip(aviId, &clip);
    ASSERT_EQ(task->GetOutputCount(aviId), 1);
    EXPECT_EQ(std::filesystem::path(task.OutputName(aviId, 0)).extension(), ".avi");
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

TEST(ConverterFiles, MoveFilesReordersAsTheMergeGroupsShow) {
    // Files that never merge with each other each make a group, in list order.
    auto setUp = [](Task& task, int64_t ids[3]) {
        ids[0] = task.Add(Fixture("h264_aac.mp4"));
        ids[1] = task.Add(Fixture("audio_only.m4a"), {{0, KX_STREAM_AUDIO}});
        ids[2] = task.Add(Fixture("video_only.mp4"), {{0, KX_STREAM_VIDEO}});
        task->SetTaskType(KX_TASK_MERGE, -1);
    };
    auto order = [](IStreamwright* converter) {
        std::vector<int64_t> ids;
        for (const auto& group : Groups(converter)) ids.push_back(group.front());
        return ids;
    };
    {
        Task task;
        int64_t id[3];
        setUp(task, id);
        int64_t moving[] = {id[1]};
        ASSERT_EQ(task->MoveFiles(moving, 1, 0), KX_S_OK);
        EXPECT_EQ(order(task.get()), (std::vector<int64_t>{id[1], id[0], id[2]}));
    }
    {
        Task task;
        int64_t id[3];
        setUp(task, id);
        int64_t moving[] = {id[0]};
        ASSERT_EQ(task->MoveFiles(moving, 1, 3), KX_S_OK);
        EXPECT_EQ(order(task.get()), (std::vector<int64_t>{id[1], id[2], id[0]}));
    }
    {
        Task task;
        int64_t id[3];
        setUp(task, id);
        int64_t moving[] = {id[0], id[2], id[0], 999999};
        ASSERT_EQ(task->MoveFiles(moving, 4, 2), KX_S_OK);
        EXPECT_EQ(order(task.get()), (std::vector<int64_t>{id[1], id[0], id[2]}));
        ASSERT_EQ(task->SwapFiles(id[1], id[2]), KX_S_OK);
        EXPECT_EQ(order(task.get()), (std::vector<int64_t>{id[2], id[0], id[1]}));
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

TEST(ConverterFiles, FourMatchesAgainstTwoStreamsOpenANewGroup) {
    Task task;
    // The same audio stream selected twice in both files: each entry of the
    // reference matches both entries of the other file.
    int64_t a = task.Add(Fixture("h264_aac.mp4"), {{1, KX_STREAM_AUDIO}, {1, KX_STREAM_AUDIO}});
    int64_t b = task.Add(Fixture("h264_aac_lowrate.mp4"), {{1, KX_STREAM_AUDIO}, {1, KX_STREAM_AUDIO}});
    task->SetTaskType(KX_TASK_MERGE, -1);
    auto groups = Groups(task.get());
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0], (std::vector<int64_t>{a}));
    EXPECT_EQ(groups[1], (std::vector<int64_t>{b}));
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

TEST(ConverterFiles, BadFilesFailAddFileWithALogLine) {
    LogCapture log;
    Task task;
    EXPECT_EQ(task->AddFile(Bstr(Fixture("garbage.bin"))), -1);
    EXPECT_EQ(task->AddFile(Bstr(std::string("/no/such/file.mp4"))), -1);
    EXPECT_TRUE(log.Contains(FormatLogLine(kx::legacy::kError, u"OpenDemuxer failed")));
    int64_t id = task.Add(Fixture("h264_aac.mp4"), {});
    EXPECT_EQ(task->OpenStream(id, 7, KX_STREAM_VIDEO), KX_S_FALSE);
}
