// GetFileMediaInfo through IStreamwright: a copy of the reader's description
// (its values are MediaInfoReader's) that lives on after its file is removed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
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
    ASSERT_TRUE(copy && source && copy != source);
    EXPECT_EQ(std::memcmp(copy, source, offsetof(FileMediaInfo, programs)), 0);
    ASSERT_EQ(copy->programCount, source->programCount);
    ASSERT_NE(copy->programs, source->programs);
    for (uint32_t p = 0; p < source->programCount; ++p) {
        const ProgramInfo& a = copy->programs[p];
        const ProgramInfo& b = source->programs[p];
        EXPECT_EQ(std::memcmp(&a, &b, offsetof(ProgramInfo, videos)), 0);
        for (const auto& [arrayA, arrayB, count] :
             {std::tuple{a.videos, b.videos, b.videoCount}, {a.audios, b.audios, b.audioCount}}) {
            for (uint32_t i = 0; i < count; ++i) {
                const MediaStreamRecord& ra = arrayA[i];
                const MediaStreamRecord& rb = arrayB[i];
                EXPECT_NE(&ra, &rb);
                EXPECT_EQ(std::memcmp(&ra, &rb, offsetof(MediaStreamRecord, extradata)), 0);
                EXPECT_EQ(ra.displayWidth, rb.displayWidth);
                EXPECT_EQ(ra.displayHeight, rb.displayHeight);
                if (rb.extradataSize == 0) continue;
                ASSERT_NE(ra.extradata, rb.extradata);
                EXPECT_EQ(std::memcmp(ra.extradata, rb.extradata, rb.extradataSize), 0);
            }
        }
    }
}

}  // namespace

// The copy is read after its file, reader and description are gone.
TEST(MediaInfoQuery, CopyOfAFileSurvivesItsRemoval) {
    const std::string path = Fixture("Fête_vidéo_ü.mp4");
    kxtest::Task task;
    const int64_t id = task.Add(path, {{0, KX_STREAM_VIDEO}});
    ASSERT_GE(id, 0);
    kxtest::LogCapture log;
    ILossCopyMediaInfo* object = task->GetFileMediaInfo(id);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(log.Lines(), (std::vector<std::u16string>{kx::legacy::kMediaInfoBegin, u"GetFileMediaInfo end\n"}));
    const FileMediaInfo* info = object->GetInfo();
    ExpectCopyOf(info, ReaderInfo(task.get(), id));
    ASSERT_EQ(task->RemoveFile(id), KX_S_OK);
    EXPECT_EQ(task->GetFileMediaInfo(id), nullptr);
    EXPECT_EQ(task->GetFileMediaInfo(-1), nullptr);
    EXPECT_EQ(log.Lines().size(), 2u) << "nothing logged for unknown files";

    EXPECT_EQ(std::u16string(info->path), kxtest::Wide(path));
    ASSERT_EQ(info->programCount, 1u);
    const ProgramInfo& entry = info->programs[0];
    ASSERT_EQ(entry.videoCount, 1u);
    ASSERT_EQ(entry.audioCount, 1u);
    ASSERT_GT(entry.videos[0].extradataSize, 0u);
    EXPECT_EQ(entry.videos[0].extradata[0], 1);  // avcC, version 1
    EXPECT_EQ(object->Release(), 0u);
}

// A transport stream with two programs, none of its streams selected: each
// object keeps its own copy, which outlives the converter.
TEST(MediaInfoQuery, TwoProgramsAndIndependentCopies) {
    kxtest::Task task;
    const int64_t id = task.Add(Fixture("two_programs.ts"), {});
    ASSERT_GE(id, 0);
    ILossCopyMediaInfo* first = task->GetFileMediaInfo(id);
    ILossCopyMediaInfo* second = task->GetFileMediaInfo(id);
    ASSERT_TRUE(first && second);
    ExpectCopyOf(first->GetInfo(), second->GetInfo());
    ILossCopyMediaInfo* again = nullptr;
    ASSERT_EQ(second->QueryInterface(&IID_ILossCopyMediaInfo, reinterpret_cast<void**>(&again)), KX_S_OK);
    EXPECT_EQ(again, second);
    again->Release();
    EXPECT_EQ(second->Release(), 0u);
    task->Reset();
    const FileMediaInfo* info = first->GetInfo();
    ASSERT_EQ(info->programCount, 2u);
    EXPECT_EQ(info->programs[1].videos[0].streamId, 131074);
    EXPECT_EQ(first->Release(), 0u);
}

namespace {

// Bytes this process has read so far (read system calls, cache included).
int64_t BytesReadSoFar() {
    FILE* io = std::fopen("/proc/self/io", "r");
    if (!io) return -1;
    long long value = -1;
    char name[32];
    while (std::fscanf(io, "%31s %lld", name, &value) == 2 && std::strcmp(name, "rchar:") != 0) value = -1;
    std::fclose(io);
    return value;
}

}  // namespace

// A container that stores no bit rates has them counted from every packet,
// one read of the whole file; a host that asks for stored rates only spares
// that read and gets 0 for them.
TEST(MediaInfoQuery, StoredRatesOnlySparesTheCountingRead) {
    for (const char* name : {"h264_aac.mkv", "h264_aac.ts"}) {
        const std::string path = Fixture(name);
        const int64_t fileBytes = static_cast<int64_t>(std::filesystem::file_size(path));
        int64_t bytesRead[2] = {};
        uint32_t videoRate[2] = {};
        for (const uint32_t options : {0u, static_cast<uint32_t>(KX_INPUT_STORED_RATES_ONLY)}) {
            const int storedOnly = options != 0;
            kxtest::Task task;
            ASSERT_EQ(KX_SetInputOptions(task.get(), options), KX_S_OK);
            const int64_t before = BytesReadSoFar();
            const int64_t id = task.Add(path, {});
            ASSERT_GE(id, 0) << name;
            ILossCopyMediaInfo* info = task->GetFileMediaInfo(id);
            ASSERT_NE(info, nullptr) << name;
            bytesRead[storedOnly] = BytesReadSoFar() - before;
            videoRate[storedOnly] = info->GetInfo()->programs[0].videos[0].bitRate;
            info->Release();
        }
        EXPECT_GT(videoRate[0], 0u) << name;
        EXPECT_EQ(videoRate[1], 0u) << name;
        // The probe of the first open may already have read a few bytes of it.
        EXPECT_GE(bytesRead[0] - bytesRead[1], fileBytes * 9 / 10) << name;
    }
}
