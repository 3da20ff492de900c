// GetFileMediaInfo through IStreamwright: what the copy shows, against
// ffprobe, and that it lives on after its file is removed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/CStreamwright.h"
#include "input/CTMediaInfo.h"
#include "input/DemuxerHolder.h"
#include "platform/LegacyLogLines.h"
#include "TaskTestSupport.h"
#include "TestSupport.h"

using kxtest::Fixture;

namespace {

const FileMediaInfo* ReaderInfo(IStreamwright* converter, int64_t id) {
    kx::FileRecord* file = static_cast<kx::CStreamwright*>(converter)->FindFile(id);
    if (!file || !file->input || !file->input->mediaInfo) return nullptr;
    return file->input->mediaInfo->GetMediainfo();
}

// Equal contents, every array and extra-data block in memory of its own.
void ExpectCopyOf(const FileMediaInfo* copy, const FileMediaInfo* source) {
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(copy, source);
    EXPECT_EQ(std::memcmp(copy, source, offsetof(FileMediaInfo, programs)), 0);
    ASSERT_EQ(copy->programCount, source->programCount);
    ASSERT_NE(copy->programs, source->programs);
    for (uint32_t p = 0; p < source->programCount; ++p) {
        const ProgramInfo& a = copy->programs[p];
        const ProgramInfo& b = source->programs[p];
        EXPECT_EQ(std::memcmp(&a, &b, offsetof(ProgramInfo, videos)), 0);
        const MediaStreamRecord* arraysA[] = {a.videos, a.audios};
        const MediaStreamRecord* arraysB[] = {b.videos, b.audios};
        uint32_t counts[] = {b.videoCount, b.audioCount};
        for (int kind = 0; kind < 2; ++kind) {
            for (uint32_t i = 0; i < counts[kind]; ++i) {
                const MediaStreamRecord& ra = arraysA[kind][i];
                const MediaStreamRecord& rb = arraysB[kind][i];
                EXPECT_NE(&ra, &rb);
                EXPECT_EQ(std::memcmp(&ra, &rb, offsetof(MediaStreamRecord, extradata)), 0);
                EXPECT_EQ(ra.displayWidth, rb.displayWidth);
                EXPECT_EQ(ra.displayHeight, rb.displayHeight);
                if (rb.extradataSize == 0) continue;
                ASSERT_NE(ra.extradata, nullptr);
                EXPECT_NE(ra.extradata, rb.extradata);
                EXPECT_EQ(std::memcmp(ra.extradata, rb.extradata, rb.extradataSize), 0);
            }
        }
    }
}

double ProbeDuration(const std::string& path) {
    return std::stod(kxtest::RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                                        kxtest::Quote(path)));
}

}  // namespace

// An MP4 file: one entry gathering both streams, their parameters as ffprobe
// gives them, the path in full; the copy outlives RemoveFile.
TEST(MediaInfoQuery, CopyOfAFileSurvivesItsRemoval) {
    std::string path = Fixture("Fête_vidéo_ü.mp4");
    kxtest::Task task;
    int64_t id = task.Add(path, {{0, KX_STREAM_VIDEO}});
    ASSERT_GE(id, 0);
    kxtest::LogCapture log;
    ILossCopyMediaInfo* object = task->GetFileMediaInfo(id);
    ASSERT_NE(object, nullptr);
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], kx::legacy::kMediaInfoBegin);
    EXPECT_EQ(lines[1], u"GetFileMediaInfo end\n");

    const FileMediaInfo* info = object->GetInfo();
    ExpectCopyOf(info, ReaderInfo(task.get(), id));
    ASSERT_EQ(task->RemoveFile(id), KX_S_OK);
    EXPECT_EQ(task->GetFileMediaInfo(id), nullptr);

    // Read after the file, its reader and its description are gone.
    EXPECT_EQ(std::u16string(info->path), kxtest::Wide(path));
    EXPECT_NEAR(info->duration, ProbeDuration(path), 0.001);
    ASSERT_EQ(info->programCount, 1u);
    const ProgramInfo& entry = info->programs[0];
    ASSERT_EQ(entry.videoCount, 1u);
    ASSERT_EQ(entry.audioCount, 1u);
    const MediaStreamRecord& video = entry.videos[0];
    EXPECT_EQ(video.width, 320u);
    ASSERT_EQ(video.extradataSize, uint32_t(std::stoi(kxtest::ProbeStream(path, 0)["extradata_size"])));
    EXPECT_EQ(video.extradata[0], 1);  // avcC, version 1
    EXPECT_EQ(entry.audios[0].extradataSize, uint32_t(std::stoi(kxtest::ProbeStream(path, 1)["extradata_size"])));
    EXPECT_EQ(object->Release(), 0u);
}

// A transport stream with two programs: two entries, no extra one, and each
// object keeps its own copy.
TEST(MediaInfoQuery, TwoProgramsAndIndependentCopies) {
    kxtest::Task task;
    int64_t id = task.Add(Fixture("two_programs.ts"), {{2, KX_STREAM_VIDEO}});
    ASSERT_GE(id, 0);
    ILossCopyMediaInfo* first = task->GetFileMediaInfo(id);
    ILossCopyMediaInfo* second = task->GetFileMediaInfo(id);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first->GetInfo(), second->GetInfo());
    ExpectCopyOf(first->GetInfo(), second->GetInfo());
    EXPECT_EQ(second->Release(), 0u);

    const FileMediaInfo* info = first->GetInfo();
    ASSERT_EQ(info->programCount, 2u);
    EXPECT_EQ(info->hasExtra, 0u);
    for (uint32_t p = 0; p < 2; ++p) {
        const ProgramInfo& entry = info->programs[p];
        EXPECT_EQ(entry.number, p + 1);
        ASSERT_EQ(entry.videoCount, 1u);
        ASSERT_EQ(entry.audioCount, 1u);
        EXPECT_EQ(entry.videos[0].streamIndex, 2 * p);
        EXPECT_EQ(entry.videos[0].streamId, int32_t(((p + 1) << 16) + 2 * p));
        EXPECT_EQ(entry.audios[0].streamId, int32_t(((p + 1) << 16) + 0x4000 + 2 * p + 1));
    }
    // The converter goes away first; the copy stays.
    task->Reset();
    EXPECT_EQ(info->programs[1].videos[0].streamId, 131074);
    EXPECT_EQ(first->Release(), 0u);
}

TEST(MediaInfoQuery, UnknownFileGivesNothing) {
    kxtest::Task task;
    int64_t id = task.Add(Fixture("h264_aac.mp4"), {});
    ASSERT_GE(id, 0);
    kxtest::LogCapture log;
    EXPECT_EQ(task->GetFileMediaInfo(id + 1), nullptr);
    EXPECT_EQ(task->GetFileMediaInfo(-1), nullptr);
    EXPECT_TRUE(log.Lines().empty());
    // A file opened but with no stream selected is known: it has a description.
    ILossCopyMediaInfo* object = task->GetFileMediaInfo(id);
    ASSERT_NE(object, nullptr);
    ASSERT_NE(object->GetInfo(), nullptr);
    EXPECT_EQ(object->GetInfo()->programs[0].videoCount, 1u);
    ILossCopyMediaInfo* again = nullptr;
    ASSERT_EQ(object->QueryInterface(&IID_ILossCopyMediaInfo, reinterpret_cast<void**>(&again)), KX_S_OK);
    EXPECT_EQ(again, object);
    again->Release();
    EXPECT_EQ(object->Release(), 0u);
}
