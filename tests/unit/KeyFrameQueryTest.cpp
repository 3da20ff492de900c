// The key-frame index through IStreamwright: contents against ffprobe,
// progress through the key-frame callback, host and file lists, cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "api/CStreamwright.h"
#include "platform/LegacyLogLines.h"
#include "TaskTestSupport.h"
#include "TestSupport.h"

using kxtest::ExpectKeyFrames;
using kxtest::Fixture;
using kxtest::ProbeKeyFrames;

namespace {

kx::FileRecord* FileOf(IStreamwright* converter, int64_t id) {
    return static_cast<kx::CStreamwright*>(converter)->FindFile(id);
}

}  // namespace

// Every H.264 fixture: the host's list holds exactly ffprobe's key packets of
// the first selected video stream, and so does the file's own list. The
// small_pframes files hold hundreds of P-frames whose 4-byte lengths read
// as 00 00 01 xx: none of them may come out as a key frame. Asked after the
// file's media information, the index of a container without bit rates
// comes from the description's packet count instead of a scan: the same.
TEST(KeyFrameQuery, IndexEqualsFfprobeKeyPackets) {
    struct Case {
        const char* name;
        int stream;
        bool hasAudio;  // the stream after the video's
    };
    const Case cases[] = {
        {"h264_aac.mp4", 0, true},       {"h264_aac_lowrate.mp4", 0, true}, {"h264_bframes_opengop.mp4", 0, true},
        {"h264_aac.mkv", 0, true},       {"h264_aac.ts", 0, true},          {"h264_aac.m2ts", 0, true},
        {"two_programs.ts", 2, true},    {"h264_mp3.avi", 0, true},         {"rotated90.mp4", 0, true},
        {"video_only.mp4", 0, false},    {"truncated.mp4", 0, true},        {"small_pframes.mp4", 0, false},
        {"small_pframes.mkv", 0, false}, {"small_pframes.flv", 0, false},
    };
    for (const auto& [name, stream, hasAudio] : cases) {
        const std::string path = Fixture(name);
        // An audio stream first where there is one: the index is taken from
        // the first video stream, on the clock of both.
        std::vector<std::pair<int32_t, int32_t>> selected = {{stream, KX_STREAM_VIDEO}};
        if (hasAudio) selected.insert(selected.begin(), {stream + 1, KX_STREAM_AUDIO});
        const auto want = ProbeKeyFrames(path, stream, kxtest::ClockZero(path, {stream, stream + hasAudio}));
        ASSERT_GT(want.size(), 2u) << name;
        for (const bool describedFirst : {false, true}) {
            kxtest::Task task;
            const int64_t id = task.Add(path, selected);
            ASSERT_GE(id, 0) << name;
            if (describedFirst) {
                ILossCopyMediaInfo* info = task->GetFileMediaInfo(id);
                ASSERT_NE(info, nullptr) << name;
                info->Release();
            }
            KeyFrameList hostList{};
            KeyFrameList* host = &hostList;
            ASSERT_EQ(task->GetFileKeyFrameIndex(id, &host), KX_S_OK) << name;
            ExpectKeyFrames(hostList.items, hostList.count, want, name);
            const kx::FileRecord* file = FileOf(task.get(), id);
            ExpectKeyFrames(file->keyFrames.data(), file->keyFrameCount, want, std::string(name) + " (file)");
            KX_FreeKeyFrameList(&hostList);
            EXPECT_TRUE(hostList.items == nullptr && hostList.count == 0);
        }
    }
}

// Progress reaches the key-frame callback only: 8 first, then 7 with rising
// percentages, 7 with 100 and 9 at the end, each with the cursor {file id, -1}.
TEST(KeyFrameQuery, ProgressThroughTheKeyFrameCallback) {
    kxtest::Task task;  // its task callback (which 0) records into task.notifications
    const int64_t first = task.Add(Fixture("h264_aac_lowrate.mp4"), {{0, KX_STREAM_VIDEO}});
    // Matroska: scanned packet by packet (an MP4's key frames come from its table).
    const int64_t id = task.Add(Fixture("h264_aac.mkv"), {{0, KX_STREAM_VIDEO}});
    ASSERT_GE(first, 0);
    ASSERT_GT(id, first);
    kxtest::NotificationLog keyFrames;
    ASSERT_EQ(task->SetCallback(&kxtest::NotificationLog::Callback, &keyFrames, 1), KX_S_OK);
    kxtest::LogCapture log;
    ASSERT_EQ(task->GetFileKeyFrameIndex(id, nullptr), KX_S_OK);
    EXPECT_TRUE(log.Contains(kx::legacy::kKeyFrameIndex));

    const auto all = keyFrames.All();
    ASSERT_GE(all.size(), 100u);  // 250 frames: a report every 2 packets
    EXPECT_EQ(all.front().code, KX_NOTIFY_KEYFRAME_BEGIN);
    EXPECT_EQ(all.front().value, 0);
    EXPECT_EQ(all.back().code, KX_NOTIFY_KEYFRAME_DONE);
    EXPECT_EQ(all.back().value, 100);
    EXPECT_EQ(all[all.size() - 2].value, 100);
    for (size_t i = 1; i + 1 < all.size(); ++i) {
        EXPECT_EQ(all[i].code, KX_NOTIFY_KEYFRAME_PROGRESS) << i;
        EXPECT_GT(all[i].value, 0) << i;
        EXPECT_GE(all[i].value, all[i - 1].value) << i;
    }
    for (const auto& n : all) EXPECT_TRUE(n.hasCursor && n.fileId == id && n.clipIndex == -1);
    EXPECT_TRUE(task.notifications.All().empty());  // nothing through the task callback

    // The cursor follows the file of each request.
    kxtest::NotificationLog other;
    task->SetCallback(&kxtest::NotificationLog::Callback, &other, 1);
    ASSERT_EQ(task->GetFileKeyFrameIndex(first, nullptr), KX_S_OK);
    ASSERT_FALSE(other.All().empty());
    for (const auto& n : other.All()) EXPECT_EQ(n.fileId, first);

    // Without a key-frame callback the index is still built, silently.
    task->SetCallback(nullptr, nullptr, 1);
    ASSERT_EQ(task->GetFileKeyFrameIndex(id, nullptr), KX_S_OK);
    EXPECT_EQ(FileOf(task.get(), id)->keyFrameCount, 10);
}

// Two calls append twice to the host's list; the file's own list is rebuilt
// each time and holds the records once. Without a host list only the file's
// list is filled.
TEST(KeyFrameQuery, TwoCallsAppendTwiceToTheHostList) {
    const std::string path = Fixture("h264_bframes_opengop.mp4");
    const auto want = ProbeKeyFrames(path, 0);
    const int64_t n = static_cast<int64_t>(want.size());
    kxtest::Task task;
    const int64_t id = task.Add(path, {{0, KX_STREAM_VIDEO}});
    ASSERT_GE(id, 0);
    KeyFrameList hostList{};
    KeyFrameList* host = &hostList;
    KeyFrameList* none = nullptr;
    ASSERT_EQ(task->GetFileKeyFrameIndex(id, &host), KX_S_OK);
    ASSERT_EQ(task->GetFileKeyFrameIndex(id, &host), KX_S_OK);
    ASSERT_EQ(task->GetFileKeyFrameIndex(id, &none), KX_S_OK);
    ASSERT_EQ(task->GetFileKeyFrameIndex(id, nullptr), KX_S_OK);
    ASSERT_EQ(hostList.count, 2 * n);
    ExpectKeyFrames(hostList.items, n, want, "first");
    ExpectKeyFrames(hostList.items + n, n, want, "second");
    ExpectKeyFrames(FileOf(task.get(), id)->keyFrames.data(), FileOf(task.get(), id)->keyFrameCount, want, "file");
    KX_FreeKeyFrameList(&hostList);
    KX_FreeKeyFrameList(nullptr);
}

// A cancel from another thread ends the call with 1 and leaves both lists as
// they were; the next call builds the whole index again.
TEST(KeyFrameQuery, CancelFromAnotherThread) {
    const std::string path = Fixture("h264_aac.mkv");
    const auto want = ProbeKeyFrames(path, 0);
    kxtest::Task task;
    const int64_t id = task.Add(path, {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}});
    ASSERT_GE(id, 0);
    KeyFrameList hostList{};
    KeyFrameList* host = &hostList;
    ASSERT_EQ(task->GetFileKeyFrameIndex(id, &host), KX_S_OK);

    struct Canceller {
        IStreamwright* converter;
        int64_t id;
        std::vector<int32_t> codes;
        HRESULT cancelResult = -1;
        static int32_t Callback(void* context, int32_t code, TaskCursor*, int32_t) {
            auto* self = static_cast<Canceller*>(context);
            self->codes.push_back(code);
            if (self->codes.size() == 10)
                std::thread([self] { self->cancelResult = self->converter->CancelKeyFrameIndex(self->id); }).join();
            return 0;
        }
    } canceller{task.get(), id, {}, -1};
    task->SetCallback(&Canceller::Callback, &canceller, 1);
    kxtest::LogCapture log;
    EXPECT_EQ(task->GetFileKeyFrameIndex(id, &host), KX_S_FALSE);
    EXPECT_EQ(canceller.cancelResult, KX_S_OK);
    EXPECT_FALSE(log.Contains(kx::legacy::kKeyFrameIndex));
    ASSERT_EQ(canceller.codes.size(), 12u);  // 8, eight 7s, the cancel, then 7 100 and 9
    EXPECT_EQ(canceller.codes.front(), KX_NOTIFY_KEYFRAME_BEGIN);
    EXPECT_EQ(canceller.codes.back(), KX_NOTIFY_KEYFRAME_DONE);
    ExpectKeyFrames(hostList.items, hostList.count, want, "host list after cancel");
    ExpectKeyFrames(FileOf(task.get(), id)->keyFrames.data(), FileOf(task.get(), id)->keyFrameCount, want,
                    "file list after cancel");

    task->SetCallback(nullptr, nullptr, 1);
    KX_FreeKeyFrameList(&hostList);
    ASSERT_EQ(task->GetFileKeyFrameIndex(id, &host), KX_S_OK);
    ExpectKeyFrames(hostList.items, hostList.count, want, "after cancel");
    KX_FreeKeyFrameList(&hostList);
}

// Requests that cannot be answered: 1, no progress, lists untouched.
TEST(KeyFrameQuery, NoVideoSelectedOrUnknownFile) {
    kxtest::Task task;
    const int64_t audioOnly = task.Add(Fixture("h264_aac.mp4"), {{1, KX_STREAM_AUDIO}});
    const int64_t nothing = task.Add(Fixture("h264_aac.mkv"), {});
    const int64_t sound = task.Add(Fixture("audio_only.m4a"), {{0, KX_STREAM_AUDIO}});
    ASSERT_TRUE(audioOnly >= 0 && nothing >= 0 && sound >= 0);
    kxtest::NotificationLog keyFrames;
    task->SetCallback(&kxtest::NotificationLog::Callback, &keyFrames, 1);
    KeyFrameList hostList{};
    KeyFrameList* host = &hostList;
    for (int64_t id : {audioOnly, nothing, sound, sound + 1000, int64_t(-1)})
        EXPECT_EQ(task->GetFileKeyFrameIndex(id, &host), KX_S_FALSE) << id;
    EXPECT_EQ(keyFrames.count.load(), 0);
    EXPECT_TRUE(hostList.count == 0 && hostList.items == nullptr);
    EXPECT_EQ(task->CancelKeyFrameIndex(sound + 1000), KX_S_FALSE);
    EXPECT_EQ(task->CancelKeyFrameIndex(audioOnly), KX_S_OK);
    // A removed file is unknown.
    ASSERT_EQ(task->RemoveFile(audioOnly), KX_S_OK);
    EXPECT_EQ(task->GetFileKeyFrameIndex(audioOnly, &host), KX_S_FALSE);
    EXPECT_EQ(task->CancelKeyFrameIndex(audioOnly), KX_S_FALSE);
}

// Asked only for the key frames next to some times, a Matroska file or a
// transport stream is searched near each time. What comes back must be what
// the whole index holds there (the last key frame at or before each time,
// the two after it, the file's first), at ffprobe's times, or a split would
// move its cuts elsewhere than the index says. Other containers give their
// whole index.
TEST(KeyFrameQuery, NearTimesAreTheIndexsNeighbours) {
    const struct {
        const char* name;
        int stream;
        bool searched;
    } cases[] = {
        {"h264_aac.mkv", 0, true},       {"h264_aac.ts", 0, true},      {"h264_aac.m2ts", 0, true},
        {"two_programs.ts", 2, true},    {"small_pframes.mkv", 0, true},
        {"h264_aac.mp4", 0, false},      {"h264_mp3.avi", 0, false},
    };
    for (const auto& [name, stream, searched] : cases) {
        const std::string path = Fixture(name);
        const auto all = ProbeKeyFrames(path, stream, kxtest::ClockZero(path, {stream}));
        ASSERT_GT(all.size(), 2u) << name;
        const auto neighbours = [&all](const std::vector<int64_t>& times) {
            std::vector<int64_t> want = {all.front().time};
            for (int64_t t : times) {
                size_t after = 0;
                while (after < all.size() && all[after].time <= t) ++after;
                for (size_t i = after > 0 ? after - 1 : 0; i < std::min(all.size(), after + 2); ++i)
                    want.push_back(all[i].time);
            }
            std::sort(want.begin(), want.end());
            want.erase(std::unique(want.begin(), want.end()), want.end());
            return want;
        };
        kxtest::Task task;
        const int64_t id = task.Add(path, {{stream, KX_STREAM_VIDEO}});
        ASSERT_GE(id, 0) << name;
        // On a key frame, a tick before one, between two, and past the end;
        // then, as a split asks again once its cuts sit on key frames, on
        // every key frame the first answer gave (partly answered from what
        // the first search read).
        std::vector<int64_t> times = {all[1].time, all[2].time - 1, (all[all.size() / 2].time + all.back().time) / 2,
                                      all.back().time + 100'000'000};
        for (int round = 0; round < 2; ++round) {
            KeyFrameList list{};
            ASSERT_EQ(KX_GetKeyFramesNear(task.get(), id, times.data(), static_cast<int32_t>(times.size()), &list),
                      KX_S_OK)
                << name;
            std::vector<int64_t> got;
            for (int64_t i = 0; i < list.count; ++i) got.push_back(list.items[i].time);
            if (searched) {
                EXPECT_EQ(got, neighbours(times)) << name << " round " << round;
                for (int64_t i = 0; i < list.count; ++i) EXPECT_EQ(list.items[i].frameNumber, -1) << name;
            } else {
                ExpectKeyFrames(list.items, list.count, all, name);
            }
            KX_FreeKeyFrameList(&list);
            times = got;
        }
    }
}
